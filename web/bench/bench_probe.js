// Loaded by the page benchmark before the page's own scripts: wraps every method of each
// WebGL context the page makes (and of its extensions) to count, frame by frame, what the
// page asks of WebGL, and keeps a copy of every buffer's contents so that one frame can be
// captured: window.benchCapture() gives the next frame's triangles and lines in eye
// coordinates with their lit colours, worked out from the page's own buffers, attributes
// and uniforms as its vertex shader does (per-vertex lighting by directional lights).
(function() {
  'use strict';
  // Per frame: WebGL calls, buffer writes, bytes uploaded, draws, and the most writes to
  // one buffer object.
  var counts = {calls: 0, writes: 0, bytes: 0, draws: 0, mostWrites: 0};
  var writesTo = new Map();
  window.benchFrames = []; // one counts record for each frame run

  var shadows = new Map(); // WebGLBuffer -> ArrayBuffer, as the page last filled it
  var context = null, instancing = null, program = null, capture = null;
  var quiet = 0; // above 0 while the probe makes calls of its own, which count for nothing

  function bound(target) {
    return context.getParameter(target === context.ARRAY_BUFFER ? context.ARRAY_BUFFER_BINDING
                                                                : context.ELEMENT_ARRAY_BUFFER_BINDING);
  }
  function bytesOf(data) {
    return ArrayBuffer.isView(data) ? new Uint8Array(data.buffer, data.byteOffset, data.byteLength)
                                    : new Uint8Array(data);
  }
  // Keeps the bound buffer's contents as bufferData and bufferSubData leave them.
  // A variant of the page with one cost removed, named in the page's address:
  //   ?variant=no-upload  the streamed buffers keep what the first frames put in them (the
  //                       picture stands still where the batch is drawn)
  //   ?variant=turning    the camera turned a step before every frame (the left arrow key),
  //                       so that every vertex is placed, lit and sent again
  var variant = new URLSearchParams(location.search).get('variant');
  var keep = {
    bufferData: function(target, data) {
      shadows.set(bound(target), typeof data === 'number' ? new ArrayBuffer(data) : bytesOf(data).slice().buffer);
    },
    bufferSubData: function(target, offset, data) {
      new Uint8Array(shadows.get(bound(target))).set(bytesOf(data), offset);
    },
    useProgram: function(p) { program = p; },
    clear: function() { if (capture && capture.armed) capture.clear = Array.from(context.getParameter(context.COLOR_CLEAR_VALUE)); },
    drawElements: function(mode, count, type, offset) { if (capture && capture.armed) record(mode, count, type, offset, 1); },
    drawElementsInstancedANGLE: function(mode, count, type, offset, instances) {
      if (capture && capture.armed) record(mode, count, type, offset, instances);
    },
  };

  function wrap(object) {
    for (var name in object) {
      if (typeof object[name] !== 'function') continue;
      (function(name, method) {
        object[name] = function() {
          if (quiet) return method.apply(object, arguments);
          quiet++;
          counts.calls++;
          if (name === 'bufferData' || name === 'bufferSubData') {
            var data = arguments[name === 'bufferData' ? 1 : 2];
            var buffer = bound(arguments[0]), writes = (writesTo.get(buffer) || 0) + 1;
            writesTo.set(buffer, writes);
            counts.writes++;
            counts.mostWrites = Math.max(counts.mostWrites, writes);
            if (typeof data !== 'number') counts.bytes += data.byteLength;
          }
          if (name.indexOf('draw') === 0) counts.draws++;
          quiet--;
          if (variant === 'no-upload' && name === 'bufferSubData' && window.benchFrames.length > 10) return;
          var value = method.apply(object, arguments);
          quiet++;
          if (keep[name]) keep[name].apply(null, arguments);
          quiet--;
          if (name === 'getExtension' && value && !value.benchWrapped && arguments[0] === 'ANGLE_instanced_arrays') {
            value.benchWrapped = true;
            instancing = value;
            wrap(value);
          }
          return value;
        };
      })(name, object[name]);
    }
  }

  var getContext = HTMLCanvasElement.prototype.getContext;
  HTMLCanvasElement.prototype.getContext = function(type) {
    var made = getContext.apply(this, arguments);
    if (made && type === 'webgl' && !made.benchWrapped) {
      made.benchWrapped = true;
      context = made;
      wrap(made);
    }
    return made;
  };

  // Counts each frame the page asks for on its own.
  var request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = function(frame) {
    return request(function(time) {
      counts = {calls: 0, writes: 0, bytes: 0, draws: 0, mostWrites: 0};
      writesTo.clear();
      if (capture) capture.armed = true;
      if (variant === 'turning' && context) {
        context.canvas.dispatchEvent(new KeyboardEvent('keydown', {key: 'ArrowLeft', bubbles: true}));
      }
      frame(time);
      window.benchFrames.push(counts);
      if (capture && capture.armed) {
        var done = capture;
        capture = null;
        done.resolve(done);
      }
    });
  };

  // The vertex shader's inputs for one draw: a reader of each attribute by name (a missing
  // one reads as missing, white or the identity's column), floats or normalized bytes.
  function attribute(name, missing) {
    var location = context.getAttribLocation(program, name);
    if (location < 0) return function() { return missing; };
    if (!context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_ENABLED)) {
      var value = Array.from(context.getVertexAttrib(location, context.CURRENT_VERTEX_ATTRIB));
      return function() { return value; };
    }
    var view = new DataView(shadows.get(context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_BUFFER_BINDING)));
    var size = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_SIZE);
    var bytes = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_TYPE) === context.UNSIGNED_BYTE;
    var stride = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_STRIDE) || size * (bytes ? 1 : 4);
    var offset = context.getVertexAttribOffset(location, context.VERTEX_ATTRIB_ARRAY_POINTER);
    var divisor = instancing ? context.getVertexAttrib(location, instancing.VERTEX_ATTRIB_ARRAY_DIVISOR_ANGLE) : 0;
    return function(vertex, instance) {
      var at = offset + (divisor ? Math.floor(instance / divisor) : vertex) * stride, v = [0, 0, 0, 1];
      for (var i = 0; i < size; i++) v[i] = bytes ? view.getUint8(at + i) / 255 : view.getFloat32(at + 4 * i, true);
      return v;
    };
  }
  function uniform(name) {
    return context.getUniform(program, context.getUniformLocation(program, name));
  }

  // Lights and places every vertex of one draw as the page's vertex shader does, and adds
  // its triangles or lines to the capture.
  function record(mode, count, type, offset, instances) {
    var names = ['position', 'normal', 'vertexColour', 'ambient', 'diffuse', 'modelview0', 'modelview1', 'modelview2', 'modelview3'];
    var a = {};
    names.forEach(function(name) {
      var column = name.indexOf('modelview') === 0 ? Number(name.slice(-1)) : -1;
      a[name] = attribute(name, column < 0 ? [1, 1, 1, 1] : [0, 1, 2, 3].map(function(r) { return r === column ? 1 : 0; }));
    });
    // What the program was made for, from the #define lines its vertex shader starts with.
    var text = context.getShaderSource(context.getAttachedShaders(program).filter(function(shader) {
      return context.getShaderParameter(shader, context.SHADER_TYPE) === context.VERTEX_SHADER;
    })[0]);
    var define = function(name) { return Number((text.match(new RegExp('#define ' + name + ' (\\d+)')) || [0, 0])[1]); };
    var lights = [], lighting = define('LIGHTING'), normalize = define('NORMALIZE');
    for (var i = 0; i < define('LIGHT_COUNT'); i++) {
      lights.push([uniform('lightDirection[' + i + ']'), uniform('lightDiffuse[' + i + ']')]);
    }
    var ambientLight = lighting ? uniform('ambientLight') : null;
    capture.projection = Array.from(uniform('projection'));
    var indices = new (type === context.UNSIGNED_INT ? Uint32Array : Uint16Array)(shadows.get(bound(context.ELEMENT_ARRAY_BUFFER)), offset, count);
    var run = {mode: mode === context.LINES ? 'lines' : 'triangles', first: capture.indices.length,
               cull: context.isEnabled(context.CULL_FACE), depth: context.isEnabled(context.DEPTH_TEST)};
    var made = new Map(); // this draw's vertex (instance, index) -> its index in the capture
    var cross = function(p, q) { return [p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]]; };
    var dot = function(p, q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; };
    var clamp = function(x) { return Math.min(Math.max(x, 0), 1); };
    for (var instance = 0; instance < instances; instance++) {
      for (var k = 0; k < count; k++) {
        var v = indices[k], key = instance * 4294967296 + v;
        if (made.has(key)) {
          capture.indices.push(made.get(key));
          continue;
        }
        made.set(key, capture.vertices.length / 7);
        capture.indices.push(capture.vertices.length / 7);
        var p = a.position(v, instance), n = a.normal(v, instance);
        var c = [a.modelview0(v, instance), a.modelview1(v, instance), a.modelview2(v, instance), a.modelview3(v, instance)];
        var eye = [0, 1, 2].map(function(r) { return c[0][r] * p[0] + c[1][r] * p[1] + c[2][r] * p[2] + c[3][r]; });
        var ambient = a.ambient(v, instance), diffuse = a.diffuse(v, instance);
        var own = a.vertexColour(v, instance), colour = [0, 1, 2, 3].map(function(r) { return own[r] * diffuse[r]; });
        if (lighting) {
          var x = cross(c[1], c[2]), det = dot(c[0], x), m = [x, cross(c[2], c[0]), cross(c[0], c[1])];
          var normal = det !== 0 ? [0, 1, 2].map(function(r) { return (m[0][r] * n[0] + m[1][r] * n[1] + m[2][r] * n[2]) / det; }) : [0, 0, 0];
          var length = Math.sqrt(dot(normal, normal));
          if (normalize && length > 0) normal = normal.map(function(e) { return e / length; });
          colour = [0, 1, 2].map(function(r) {
            var sum = ambientLight[r] * ambient[r];
            lights.forEach(function(l) { sum += Math.max(dot(normal, l[0]), 0) * l[1][r] * diffuse[r]; });
            return clamp(sum);
          }).concat(clamp(diffuse[3]));
        }
        capture.vertices.push(eye[0], eye[1], eye[2], colour[0], colour[1], colour[2], colour[3]);
      }
    }
    run.count = capture.indices.length - run.first;
    capture.runs.push(run);
  }

  // The next whole frame the page draws, as {width, height, clear, projection, vertices,
  // indices, runs}: each vertex 7 numbers (eye x, y, z; red, green, blue, alpha), each run
  // one draw's indices in order, with the culling and depth test it was made under.
  window.benchCapture = function() {
    return new Promise(function(resolve) {
      capture = {armed: false, resolve: resolve, clear: [0, 0, 0, 1], projection: null,
                 vertices: [], indices: [], runs: []};
    }).then(function(c) {
      var canvas = context.canvas;
      return {width: canvas.width, height: canvas.height, clear: c.clear, projection: c.projection,
              vertices: c.vertices.map(function(x) { return Math.round(x * 1e5) / 1e5; }),
              indices: c.indices, runs: c.runs};
    });
  };
})();
