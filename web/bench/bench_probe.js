// Loaded by the page benchmark before the page's own scripts: wraps every method of each
// WebGL context the page makes (and of its extensions) to count, frame by frame, what the
// page asks of WebGL, and keeps a copy of every buffer's contents so that one frame can be
// captured: window.benchCapture() gives the next frame's triangles and lines in eye
// coordinates with their lit colours, read from the page's own buffers, attributes and
// projection (the layer places and lights every vertex before WebGL sees it).
(function() {
  'use strict';
  // Per frame: WebGL calls, buffer writes, bytes uploaded, draws, and the most writes to
  // one buffer object.
  var counts = {calls: 0, writes: 0, bytes: 0, draws: 0, mostWrites: 0};
  var writesTo = new Map();
  window.benchFrames = []; // one counts record for each frame run

  var shadows = new Map(); // WebGLBuffer -> ArrayBuffer, as the page last filled it
  var context = null, program = null, capture = null;
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
  //   ?variant=no-upload  the buffers keep what the first frames put in them (the
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
          // An older page's instanced draws count too.
          if (name === 'getExtension' && value && !value.benchWrapped && arguments[0] === 'ANGLE_instanced_arrays') {
            value.benchWrapped = true;
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

  // A reader of the vertex attribute named, by vertex: floats or normalized bytes, or its
  // constant value when no array feeds it.
  function attribute(name) {
    var location = context.getAttribLocation(program, name);
    if (!context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_ENABLED)) {
      var value = Array.from(context.getVertexAttrib(location, context.CURRENT_VERTEX_ATTRIB));
      return function() { return value; };
    }
    var view = new DataView(shadows.get(context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_BUFFER_BINDING)));
    var size = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_SIZE);
    var bytes = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_TYPE) === context.UNSIGNED_BYTE;
    var stride = context.getVertexAttrib(location, context.VERTEX_ATTRIB_ARRAY_STRIDE) || size * (bytes ? 1 : 4);
    var offset = context.getVertexAttribOffset(location, context.VERTEX_ATTRIB_ARRAY_POINTER);
    return function(vertex) {
      var at = offset + vertex * stride, v = [0, 0, 0, 1];
      for (var i = 0; i < size; i++) v[i] = bytes ? view.getUint8(at + i) / 255 : view.getFloat32(at + 4 * i, true);
      return v;
    };
  }

  // Adds one draw's triangles or lines to the capture: each vertex's eye coordinates
  // ('position') and lit colour ('vertexColour'), as the page's shader takes them.
  function record(mode, count, type, offset, instances) {
    if (instances !== 1) throw new Error('the probe captures no instanced draw');
    var position = attribute('position'), colour = attribute('vertexColour');
    capture.projection = Array.from(context.getUniform(program, context.getUniformLocation(program, 'projection')));
    var indices = new (type === context.UNSIGNED_INT ? Uint32Array : Uint16Array)(shadows.get(bound(context.ELEMENT_ARRAY_BUFFER)), offset, count);
    var run = {mode: mode === context.LINES ? 'lines' : 'triangles', first: capture.indices.length,
               cull: context.isEnabled(context.CULL_FACE), depth: context.isEnabled(context.DEPTH_TEST)};
    var made = new Map(); // this draw's vertex index -> its index in the capture
    for (var k = 0; k < count; k++) {
      var v = indices[k];
      if (!made.has(v)) {
        made.set(v, capture.vertices.length / 7);
        var p = position(v), c = colour(v);
        capture.vertices.push(p[0], p[1], p[2], c[0], c[1], c[2], c[3]);
      }
      capture.indices.push(made.get(v));
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
