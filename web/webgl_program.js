// Builds a WebGL program whose vertex shader gives each vertex's colour (the layer's hands
// on the colour it lit, the ceiling page's lights) and whose fragment shader passes it on:
// compiles both, binds the named attributes to locations 0, 1, ... in order, links the
// program and makes it current. The web layer draws every frame
// with such a program (this file comes before the page's code, through --pre-js), and the
// ceiling page that the browser check measures the layer against loads this same file, so
// that both pay the same for the same work. A shader or program that fails throws an error
// that begins with `what`, unless the context is lost, when WebGL reports nothing.
function orlemazLinkProgram(webgl, what, vertexSource, attributes) {
  var fragmentSource = 'precision mediump float; varying vec4 colour;' +
                       'void main() { gl_FragColor = colour; }';
  function check(ok, log) {
    if (!ok && !webgl.isContextLost()) throw new Error(what + ': ' + log);
  }
  function shader(type, source) {
    var s = webgl.createShader(type);
    webgl.shaderSource(s, source);
    webgl.compileShader(s);
    check(webgl.getShaderParameter(s, webgl.COMPILE_STATUS), webgl.getShaderInfoLog(s));
    return s;
  }
  var program = webgl.createProgram();
  webgl.attachShader(program, shader(webgl.VERTEX_SHADER, vertexSource));
  webgl.attachShader(program, shader(webgl.FRAGMENT_SHADER, fragmentSource));
  attributes.forEach(function(name, i) { webgl.bindAttribLocation(program, i, name); });
  webgl.linkProgram(program);
  check(webgl.getProgramParameter(program, webgl.LINK_STATUS), webgl.getProgramInfoLog(program));
  webgl.useProgram(program);
  return program;
}
