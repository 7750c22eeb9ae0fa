// GLUT's window size, pop-up menu, mouse, touch, keyboard and exit for the browser. The
// toolchain's GLUT has no menus at all, reports passive motion at the previous position
// rather than the current one, hands the right button to the mouse callback even when a
// menu is attached to it, reads keys as if from a US keyboard, turns every touch into a
// left press, and calls reshape once, at the size the program asked for. These calls
// replace its own: the drawing buffer follows the canvas's size on the page and reshape
// follows the buffer; the menu is a list of page elements opened at the pointer; the
// callbacks get the pointer's position in the canvas and the character the key typed
// (event.key), from the keyboard or from the page's buttons with a data-key; a finger taps,
// drags and long-presses; and when the program exits its frames and input stop and the
// page is told (Module.onProgramEnd).
mergeInto(LibraryManager.library, {
  $WebGlut__deps: ['$callUserCallback', '$GLUT'],
  $WebGlut: {
    mouse: 0, passive: 0, keyboard: 0, special: 0, // the program's callbacks
    menus: [null], // menu n: {callback, entries: [{label, value}]}; 0 is no menu
    currentMenu: 0,
    attached: {}, // GLUT button -> menu
    open: null, // the open menu: {element, menu, press: {x, y, slop} or null while waiting}
    pressed: {}, // GLUT buttons pressed on the canvas and not released yet
    x: 0, y: 0, // the program's pointer in canvas pixels, as its callbacks last had it
    mouseAt: null, // the mouse's last place in canvas pixels, wherever it was: {x, y}
    fx: 0, fy: 0, // the same while a finger drags it, with the fraction left over
    moved: false, // whether the passive motion callback has had a position yet
    finger: null, // the finger on the canvas: {id, startX, startY, lastX, lastY, dragging, timer}
    ended: false,
    lost: false, // whether the WebGL context is lost and not yet given back
    installed: false,
    shaped: false, // whether reshape has had the buffer's size yet
    // Whether the canvas's box may have changed since it was last measured: always, unless
    // a ResizeObserver says when (measuring makes an object for the collector each time).
    boxChanged: true,
    watched: false, // whether a ResizeObserver watches the canvas's box
    ratio: 0, // the pixel ratio the buffer was last sized at
    frame: null, // the callback each frame is asked for with (glutPostRedisplay)

    // The characters GLUT sends for the named keys of event.key that type one. GLUT's
    // special keys' codes and display-mode bits come from its header, through
    // web/glut_sphere.cpp: Module.glutSpecialKeys and Module.glutModeBits.
    TYPED: {Escape: 27, Enter: 13, Backspace: 8, Tab: 9, Delete: 127},
    LEFT: 0, RIGHT: 2, // GLUT buttons, numbered as DOM mouse buttons are
    MAX_PIXEL_RATIO: 2, // buffer pixels per CSS pixel at most; beyond it costs more than it shows
    LONG_PRESS_MS: 500, // a finger held this long without moving is the right button
    SLOP: 10, // CSS pixels a finger may wander and still tap or long-press
    CLICK_SLOP: 2, // CSS pixels a mouse may wander and still click

    call: function(run) {
      if (!WebGlut.ended) callUserCallback(run);
    },

    // Canvas pixels per CSS pixel across and down, and the canvas's place on the page.
    scale: function() {
      var canvas = Module.canvas;
      var rect = canvas.getBoundingClientRect();
      return {rect: rect, x: canvas.width / rect.width, y: canvas.height / rect.height};
    },

    // Where an event falls on the canvas, in the canvas's own pixels.
    canvasPoint: function(event) {
      var s = WebGlut.scale();
      return {x: Math.floor((event.clientX - s.rect.left) * s.x),
              y: Math.floor((event.clientY - s.rect.top) * s.y)};
    },

    // Sizes the drawing buffer to the canvas's CSS size times the pixel ratio and hands
    // the new size to reshape. Called before every frame, as a window system reports a new
    // size before the frame drawn at it; the canvas is measured again only when the pixel
    // ratio changed or the ResizeObserver reported a new box (after the layout that made
    // it, so the buffer follows at the next frame).
    fit: function() {
      if (WebGlut.ended) return; // the last picture stays, scaled, once the program ends
      var canvas = Module.canvas;
      var ratio = Math.min(window.devicePixelRatio || 1, WebGlut.MAX_PIXEL_RATIO);
      if (WebGlut.shaped && !WebGlut.boxChanged && ratio === WebGlut.ratio) return;
      WebGlut.boxChanged = !WebGlut.watched;
      WebGlut.ratio = ratio;
      var rect = canvas.getBoundingClientRect();
      var width = Math.max(1, Math.round(rect.width * ratio));
      var height = Math.max(1, Math.round(rect.height * ratio));
      if (WebGlut.shaped && width == canvas.width && height == canvas.height) return;
      WebGlut.shaped = true;
      canvas.width = width;
      canvas.height = height;
      WebGlut.call(function() {
        if (GLUT.reshapeFunc) {{{ makeDynCall('vii', 'GLUT.reshapeFunc') }}}(width, height);
      });
    },

    // Where a mouse event falls on the canvas, or null if the mouse has not moved off the
    // canvas pixel it was last seen on (the browser sends moves without displacement, X
    // does not).
    mouseMove: function(event) {
      var point = WebGlut.canvasPoint(event), last = WebGlut.mouseAt;
      WebGlut.mouseAt = point;
      return last && last.x == point.x && last.y == point.y ? null : point;
    },

    // Moves the program's pointer; motion is passive while no button the page saw pressed
    // is held (the buttons a mouse event reports can stay held after a menu's release).
    moveTo: function(x, y) {
      WebGlut.x = x;
      WebGlut.y = y;
      if (Object.keys(WebGlut.pressed).length == 0 && WebGlut.passive) {
        WebGlut.moved = true;
        WebGlut.call(function() {
          {{{ makeDynCall('vii', 'WebGlut.passive') }}}(x, y);
        });
      }
    },

    // A button goes down at canvas point (x, y): the menu attached to it opens at the
    // page point `at`, or the mouse callback hears of it.
    press: function(button, x, y, at) {
      if (WebGlut.attached[button]) {
        WebGlut.openMenu(WebGlut.attached[button], at);
        return;
      }
      WebGlut.pressed[button] = true;
      WebGlut.mouseCall(button, 0, x, y);
    },

    // A button pressed on the canvas comes up at canvas point (x, y).
    release: function(button, x, y) {
      if (!WebGlut.pressed[button]) return;
      delete WebGlut.pressed[button];
      WebGlut.mouseCall(button, 1, x, y);
    },

    // Hands a press (state 0) or a release (1) to the program's mouse callback.
    mouseCall: function(button, state, x, y) {
      if (!WebGlut.mouse) return;
      WebGlut.call(function() {
        {{{ makeDynCall('viiii', 'WebGlut.mouse') }}}(button, state, x, y);
      });
    },

    // One press of the key whose DOM key value is `key`; false if the program has no use
    // for it. The keyboard and the page's on-screen keys both come here.
    pressKey: function(key) {
      var special = Module.glutSpecialKeys[key];
      var typed = key.length == 1 ? key.charCodeAt(0) : WebGlut.TYPED[key];
      if (special !== undefined && WebGlut.special) {
        WebGlut.call(function() {
          {{{ makeDynCall('viii', 'WebGlut.special') }}}(special, WebGlut.x, WebGlut.y);
        });
        return true;
      }
      if (typed !== undefined && typed < 256 && WebGlut.keyboard) {
        WebGlut.call(function() {
          {{{ makeDynCall('viii', 'WebGlut.keyboard') }}}(typed, WebGlut.x, WebGlut.y);
        });
        return true;
      }
      return false;
    },

    install: function() {
      if (WebGlut.installed) return;
      WebGlut.installed = true;
      var canvas = Module.canvas;
      canvas.addEventListener('contextmenu', function(event) { event.preventDefault(); });
      canvas.addEventListener('mousedown', function(event) {
        // The page must not scroll under a press: its release would land elsewhere.
        canvas.focus({preventScroll: true});
        if (WebGlut.ended || WebGlut.open) return;
        var point = WebGlut.mouseAt = WebGlut.canvasPoint(event);
        WebGlut.x = point.x;
        WebGlut.y = point.y;
        if (WebGlut.attached[event.button]) event.preventDefault();
        WebGlut.press(event.button, point.x, point.y, event);
      });
      // A release goes to the canvas that saw the press, wherever the pointer is then.
      window.addEventListener('mouseup', function(event) {
        if (WebGlut.ended || !WebGlut.pressed[event.button]) return;
        var point = WebGlut.mouseAt = WebGlut.canvasPoint(event);
        WebGlut.x = point.x;
        WebGlut.y = point.y;
        WebGlut.release(event.button, point.x, point.y);
      });
      canvas.addEventListener('mousemove', function(event) {
        var point = WebGlut.mouseMove(event);
        if (point && !WebGlut.ended && !WebGlut.open) WebGlut.moveTo(point.x, point.y);
      });
      canvas.addEventListener('keydown', function(event) {
        if (!WebGlut.ended && WebGlut.pressKey(event.key)) event.preventDefault();
      });
      Array.prototype.forEach.call(document.querySelectorAll('button[data-key]'), function(button) {
        button.addEventListener('click', function(event) {
          if (WebGlut.ended) return;
          WebGlut.pressKey(button.getAttribute('data-key'));
          // A tap or click leaves the keyboard with the canvas; a key press on the button keeps
          // the focus where it is.
          if (event.detail > 0) canvas.focus({preventScroll: true});
        });
      });
      WebGlut.installTouch(canvas);
      window.addEventListener('mousemove', function(event) {
        if (event.target != canvas) WebGlut.mouseMove(event);
        WebGlut.trackMenu(event, false);
      });
      window.addEventListener('mousedown', function(event) { WebGlut.trackMenu(event, false); }, true);
      window.addEventListener('mouseup', function(event) { WebGlut.trackMenu(event, true); }, true);
    },

    // A finger: a tap is a left click where it touched; a drag moves the program's pointer
    // by the finger's displacement, wherever the finger went down, so that nothing bound
    // to the pointer jumps; a long press is the right button. Cancelling the pointer-down
    // keeps the browser from adding mouse events of its own after the touch.
    installTouch: function(canvas) {
      var isFinger = function(event) {
        return event.pointerType == 'touch' && WebGlut.finger && WebGlut.finger.id == event.pointerId;
      };
      canvas.addEventListener('pointerdown', function(event) {
        if (event.pointerType != 'touch') return;
        event.preventDefault();
        if (WebGlut.ended || WebGlut.open || WebGlut.finger) return;
        canvas.focus({preventScroll: true});
        // The program's pointer appears where a finger first touches, as a pointer entering
        // a window does; from then on only drags move it.
        if (!WebGlut.moved) {
          var point = WebGlut.canvasPoint(event);
          WebGlut.moveTo(point.x, point.y);
        }
        WebGlut.fx = WebGlut.x;
        WebGlut.fy = WebGlut.y;
        WebGlut.finger = {id: event.pointerId, startX: event.clientX, startY: event.clientY,
                          lastX: event.clientX, lastY: event.clientY, dragging: false,
                          timer: setTimeout(WebGlut.longPress, WebGlut.LONG_PRESS_MS)};
      });
      canvas.addEventListener('pointermove', function(event) {
        if (!isFinger(event)) return;
        var finger = WebGlut.finger;
        if (!finger.dragging && Math.hypot(event.clientX - finger.startX,
                                           event.clientY - finger.startY) > WebGlut.SLOP) {
          finger.dragging = true;
          clearTimeout(finger.timer);
        }
        if (!finger.dragging || WebGlut.ended) return;
        var s = WebGlut.scale();
        WebGlut.fx += (event.clientX - finger.lastX) * s.x;
        WebGlut.fy += (event.clientY - finger.lastY) * s.y;
        finger.lastX = event.clientX;
        finger.lastY = event.clientY;
        var x = Math.round(WebGlut.fx), y = Math.round(WebGlut.fy);
        if (x != WebGlut.x || y != WebGlut.y) WebGlut.moveTo(x, y);
      });
      canvas.addEventListener('pointerup', function(event) {
        if (!isFinger(event)) return;
        var finger = WebGlut.finger;
        WebGlut.finger = null;
        clearTimeout(finger.timer);
        if (finger.dragging || WebGlut.ended) return;
        var at = {clientX: finger.startX, clientY: finger.startY, slop: WebGlut.SLOP};
        var point = WebGlut.canvasPoint(at);
        WebGlut.press(WebGlut.LEFT, point.x, point.y, at);
        WebGlut.release(WebGlut.LEFT, point.x, point.y);
      });
      canvas.addEventListener('pointercancel', function(event) {
        if (!isFinger(event)) return;
        clearTimeout(WebGlut.finger.timer);
        WebGlut.finger = null;
      });
      // While the menu is open a finger chooses or closes it, and no mouse events follow.
      window.addEventListener('pointermove', function(event) {
        if (event.pointerType == 'touch') WebGlut.trackMenu(event, false);
      });
      window.addEventListener('pointerdown', function(event) {
        if (event.pointerType != 'touch' || !WebGlut.open) return;
        event.preventDefault();
        WebGlut.trackMenu(event, false);
      }, true);
      window.addEventListener('pointerup', function(event) {
        if (event.pointerType == 'touch') WebGlut.trackMenu(event, true);
      }, true);
    },

    // The finger has stayed put: the right button goes down where it is and, with no menu
    // on that button, comes up at once.
    longPress: function() {
      var finger = WebGlut.finger;
      WebGlut.finger = null; // from here the finger belongs to the menu
      if (WebGlut.ended) return;
      var at = {clientX: finger.lastX, clientY: finger.lastY, slop: WebGlut.SLOP};
      var point = WebGlut.canvasPoint(at);
      WebGlut.press(WebGlut.RIGHT, point.x, point.y, at);
      WebGlut.release(WebGlut.RIGHT, point.x, point.y);
    },

    // Shows menu n with its corner below and right of the page point `at` (a mouse event,
    // or a finger's place with its slop), in the full-screen element when there is one.
    openMenu: function(n, at) {
      var menu = WebGlut.menus[n];
      var element = document.createElement('div');
      element.className = 'glut-menu';
      element.setAttribute('role', 'menu');
      element.style.position = 'fixed';
      menu.entries.forEach(function(entry) {
        var item = document.createElement('div');
        item.className = 'glut-menu-entry';
        item.setAttribute('role', 'menuitem');
        item.textContent = entry.label;
        item.glutValue = entry.value;
        element.appendChild(item);
      });
      (document.fullscreenElement || document.webkitFullscreenElement || document.body).appendChild(element);
      // As far from the pointer as it may wander and still click; where it would leave the
      // screen, left of or above the pointer instead. So the opening press never ends on an
      // entry by accident.
      var slop = at.slop || WebGlut.CLICK_SLOP;
      var place = function(at, size, room) {
        return Math.max(0, at + slop + size <= room ? at + slop : at - slop - size);
      };
      element.style.left = place(at.clientX, element.offsetWidth, document.documentElement.clientWidth) + 'px';
      element.style.top = place(at.clientY, element.offsetHeight, window.innerHeight) + 'px';
      WebGlut.open = {element: element, menu: menu, press: {x: at.clientX, y: at.clientY, slop: slop}};
    },

    // The menu entry under a pointer event, or null.
    entryAt: function(event) {
      var target = document.elementFromPoint(event.clientX, event.clientY);
      return target && target.parentNode === WebGlut.open.element ? target : null;
    },

    // While the menu is open: highlights the entry under the pointer; a release on an
    // entry chooses it, and a release elsewhere closes the menu, except the release of
    // the press that opened it where it was pressed (a click or a long press), which
    // leaves it open for a second click or tap, even over an entry: a window too small to
    // place the menu clear of the pointer puts one there.
    trackMenu: function(event, release) {
      var open = WebGlut.open;
      if (!open) return;
      var entry = WebGlut.entryAt(event);
      Array.prototype.forEach.call(open.element.children, function(item) {
        item.classList.toggle('active', item === entry);
      });
      if (event.type == 'mousedown' || event.type == 'pointerdown') {
        event.preventDefault();
        event.stopPropagation();
        if (!entry) WebGlut.closeMenu(null);
        return;
      }
      if (!release) return;
      event.stopPropagation();
      var press = open.press;
      open.press = null;
      if (press && Math.abs(event.clientX - press.x) <= press.slop &&
          Math.abs(event.clientY - press.y) <= press.slop) return;
      WebGlut.closeMenu(entry ? entry.glutValue : null);
    },

    // Removes the menu and hands the chosen value, if any, to the menu's callback.
    closeMenu: function(value) {
      var open = WebGlut.open;
      WebGlut.open = null;
      open.element.remove();
      if (value !== null) {
        WebGlut.call(function() {
          {{{ makeDynCall('vi', 'open.menu.callback') }}}(value);
        });
      }
    },

    // The program has stopped: no more frames or input, the menu goes, the page is told.
    // `cause` is what stopped it: exit() (an ExitStatus), or an error thrown out of one of
    // its callbacks, which the page hears of as a fault (onAbort), not as an end.
    end: function(status, cause) {
      if (WebGlut.ended) return;
      WebGlut.ended = true;
      var told = ABORT; // abort() tells the page itself before its error gets here
      ABORT = true; // the frame loop and every later callback stop here
      if (WebGlut.open) {
        WebGlut.open.element.remove();
        WebGlut.open = null;
      }
      if (told) return;
      if (cause === undefined || cause instanceof ExitStatus) {
        if (Module.onProgramEnd) Module.onProgramEnd(status);
      } else if (Module.onAbort) {
        Module.onAbort(String(cause));
      }
    },
  },
  // exit() and an error out of a callback both reach quit_, whether or not the runtime shuts
  // down; the program ends there, and the error goes on to the browser's console.
  $WebGlut__postset: 'var webGlutQuit = quit_; quit_ = function(status, toThrow) { WebGlut.end(status, toThrow); webGlutQuit(status, toThrow); };',

  // The toolchain's glutInit turns every touch into mouse events of its own; input comes
  // from WebGlut's listeners alone.
  glutInit__deps: ['$GLUT'],
  glutInit: function(argcp, argv) {
    GLUT.initTime = Date.now();
  },

  // The toolchain's main loop calls reshape once, at the buffer's size when it starts;
  // here the buffer follows the canvas's size on the page (the window's size, a turned
  // phone, full screen, the page's zoom) before every frame, and reshape follows the buffer.
  // A change of size asks for a frame, for programs that do not draw continuously.
  // A lost WebGL context (a phone's page in the background, a GPU reset) is asked back
  // from the browser; frames wait until it comes, and then the web layer sets it up again
  // and the next frame draws the same picture. The program's state and input carry on.
  // Asks for one frame, as the toolchain's GLUT does, but through one callback made once:
  // a frame makes no new closures for the collector.
  glutPostRedisplay__deps: ['$WebGlut', '$GLUT', '$Browser'],
  glutPostRedisplay: function() {
    if (!GLUT.displayFunc || GLUT.requestedAnimationFrame) return;
    GLUT.requestedAnimationFrame = true;
    if (!WebGlut.frame) {
      var display = function() {
        {{{ makeDynCall('v', 'GLUT.displayFunc') }}}();
      };
      WebGlut.frame = function() {
        GLUT.requestedAnimationFrame = false;
        Browser.mainLoop.runIter(display);
      };
    }
    Browser.requestAnimationFrame(WebGlut.frame);
  },

  glutMainLoop__deps: ['$WebGlut', 'glutPostRedisplay', 'webglContextRestored'],
  glutMainLoop: function() {
    var canvas = Module.canvas;
    Module.MAX_PIXEL_RATIO = WebGlut.MAX_PIXEL_RATIO; // for the browser check to read
    canvas.addEventListener('webglcontextlost', function(event) {
      event.preventDefault();
      WebGlut.lost = true;
    });
    canvas.addEventListener('webglcontextrestored', function() {
      WebGlut.lost = false;
      if (WebGlut.ended) return;
      WebGlut.call(_webglContextRestored);
      _glutPostRedisplay();
    });
    WebGlut.fit();
    var beforeFrame = Module.preMainLoop;
    Module.preMainLoop = function() {
      if (WebGlut.lost) return false; // no frame into a lost context
      WebGlut.fit();
      return beforeFrame ? beforeFrame() : undefined;
    };
    if (typeof ResizeObserver != 'undefined') {
      new ResizeObserver(function() {
        WebGlut.boxChanged = true;
        _glutPostRedisplay();
      }).observe(canvas, {box: 'border-box'});
      WebGlut.watched = true;
    }
    _glutPostRedisplay();
    throw 'unwind';
  },

  // The window is the page's canvas, with a WebGL context for the web layer, which draws
  // from JavaScript through Module.ctx alone: the toolchain's own GL library, which its
  // glutCreateWindow makes the context through, has nothing to do here.
  glutCreateWindow__deps: ['$GLUT'],
  glutCreateWindow: function(name) {
    var mode = GLUT.initDisplayMode, bits = Module.glutModeBits;
    Module.ctx = Module.canvas.getContext('webgl', {
      alpha: (mode & bits.alpha) != 0,
      depth: (mode & bits.depth) != 0,
      stencil: (mode & bits.stencil) != 0,
      antialias: (mode & bits.multisample) != 0,
    });
    return Module.ctx ? 1 : 0;
  },

  glutMouseFunc__deps: ['$WebGlut'],
  glutMouseFunc: function(callback) {
    WebGlut.mouse = callback;
    WebGlut.install();
  },
  glutPassiveMotionFunc__deps: ['$WebGlut'],
  glutPassiveMotionFunc: function(callback) {
    WebGlut.passive = callback;
    WebGlut.install();
  },
  glutKeyboardFunc__deps: ['$WebGlut'],
  glutKeyboardFunc: function(callback) {
    WebGlut.keyboard = callback;
    WebGlut.install();
  },
  glutSpecialFunc__deps: ['$WebGlut'],
  glutSpecialFunc: function(callback) {
    WebGlut.special = callback;
    WebGlut.install();
  },

  glutCreateMenu__deps: ['$WebGlut'],
  glutCreateMenu: function(callback) {
    WebGlut.menus.push({callback: callback, entries: []});
    WebGlut.currentMenu = WebGlut.menus.length - 1;
    WebGlut.install();
    return WebGlut.currentMenu;
  },
  glutAddMenuEntry__deps: ['$WebGlut'],
  glutAddMenuEntry: function(label, value) {
    WebGlut.menus[WebGlut.currentMenu].entries.push({label: UTF8ToString(label), value: value});
  },
  glutAttachMenu__deps: ['$WebGlut'],
  glutAttachMenu: function(button) {
    WebGlut.attached[button] = WebGlut.currentMenu;
  },
});
