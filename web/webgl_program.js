// Builds a WebGL program whose vertex shader works out each vertex's colour and whose
// fragment shader passes it on: compiles both, binds the named attributes to locations 0,
// 1, ... in order, links the program and makes it current. The web layer draws every frame
// with such a program (this file comes before the page's code, through --pre-js), and the
// ceiling page that the browser check measures the layer against loads this same file, so
// that both pay the same for the same work. A shader or program that fails throws an error
// that begins with `what`, unless the context is lost, when WebGL reports nothing.
function orlemazLinkProgram(gl, what, vertexSource, attributes) {
  var fragmentSource = 'precision mediump float; varying vec4 colour;' +
                       'void main() { gl_FragColor = colour; }';
  function check(ok, log) {
    if (!ok && !gl.isContextLost()) throw new Error(what + ': ' + log);
  }
  function shader(type, source) {
    var s = gl.createShader(type);
    gl.shaderSource(s, source);
    gl.compileShader(s);
    check(gl.getShaderParameter(s, gl.COMPILE_STATUS), gl.getShaderInfoLog(s));
    return s;
  }
  var program = gl.createProgram();
  gl.attachShader(program, shader(gl.VERTEX_SHADER, vertexSource));
  gl.attachShader(program, shader(gl.FRAGMENT_SHADER, fragmentSource));
  attributes.forEach(function(name, i) { gl.bindAttribLocation(program, i, name); });
  gl.linkProgram(program);
  check(gl.getProgramParameter(program, gl.LINK_STATUS), gl.getProgramInfoLog(program));
  gl.useProgram(program);
  return program;
}
