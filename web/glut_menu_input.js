// GLUT's pop-up menu, mouse, keyboard and exit for the browser. The toolchain's GLUT has no
// menus at all, reports passive motion at the previous position rather than the current
// one, hands the right button to the mouse callback even when a menu is attached to it,
// and reads keys as if from a US keyboard. These calls replace its own: the menu is a list
// of page elements opened at the pointer, the callbacks get the pointer's position in the
// canvas and the character the key typed (event.key), and when the program exits its
// frames and input stop and the page is told (Module.onProgramEnd).
mergeInto(LibraryManager.library, {
  $WebGlut__deps: ['$callUserCallback'],
  $WebGlut: {
    mouse: 0, passive: 0, keyboard: 0, special: 0, // the program's callbacks
    menus: [null], // menu n: {callback, entries: [{label, value}]}; 0 is no menu
    currentMenu: 0,
    attached: {}, // GLUT button -> menu
    open: null, // the open menu: {element, menu, press: {x, y} or null while waiting}
    pressed: {}, // GLUT buttons pressed on the canvas and not released yet
    x: 0, y: 0, // pointer in canvas pixels
    ended: false,
    installed: false,

    // GLUT's special key codes for the named keys of event.key, and the characters GLUT
    // sends for the named keys that type one.
    SPECIAL: {F1: 1, F2: 2, F3: 3, F4: 4, F5: 5, F6: 6, F7: 7, F8: 8, F9: 9, F10: 10,
              F11: 11, F12: 12, ArrowLeft: 100, ArrowUp: 101, ArrowRight: 102,
              ArrowDown: 103, PageUp: 104, PageDown: 105, Home: 106, End: 107, Insert: 108},
    TYPED: {Escape: 27, Enter: 13, Backspace: 8, Tab: 9, Delete: 127},

    call: function(run) {
      if (!WebGlut.ended) callUserCallback(run);
    },

    // Where a mouse event falls on the canvas, in the canvas's own pixels.
    position: function(event) {
      var canvas = Module['canvas'];
      var rect = canvas.getBoundingClientRect();
      WebGlut.x = Math.floor((event.clientX - rect.left) * canvas.width / rect.width);
      WebGlut.y = Math.floor((event.clientY - rect.top) * canvas.height / rect.height);
    },

    // The GLUT button of a DOM mouse button: left 0, middle 1, right 2.
    button: function(event) {
      return event.button;
    },

    install: function() {
      if (WebGlut.installed) return;
      WebGlut.installed = true;
      var canvas = Module['canvas'];
      canvas.addEventListener('contextmenu', function(event) { event.preventDefault(); });
      canvas.addEventListener('mousedown', function(event) {
        canvas.focus();
        if (WebGlut.ended || WebGlut.open) return;
        WebGlut.position(event);
        var button = WebGlut.button(event);
        if (WebGlut.attached[button]) {
          event.preventDefault();
          WebGlut.openMenu(WebGlut.attached[button], event);
          return;
        }
        WebGlut.pressed[button] = true;
        if (WebGlut.mouse) {
          WebGlut.call(function() {
            {{{ makeDynCall('viiii', 'WebGlut.mouse') }}}(button, 0, WebGlut.x, WebGlut.y);
          });
        }
      });
      // A release goes to the canvas that saw the press, wherever the pointer is then.
      window.addEventListener('mouseup', function(event) {
        var button = WebGlut.button(event);
        if (WebGlut.ended || !WebGlut.pressed[button]) return;
        delete WebGlut.pressed[button];
        WebGlut.position(event);
        if (WebGlut.mouse) {
          WebGlut.call(function() {
            {{{ makeDynCall('viiii', 'WebGlut.mouse') }}}(button, 1, WebGlut.x, WebGlut.y);
          });
        }
      });
      // Only motion with no button held is passive; motion with one held is not reported.
      canvas.addEventListener('mousemove', function(event) {
        if (WebGlut.ended || WebGlut.open) return;
        WebGlut.position(event);
        if (event.buttons == 0 && WebGlut.passive) {
          WebGlut.call(function() {
            {{{ makeDynCall('vii', 'WebGlut.passive') }}}(WebGlut.x, WebGlut.y);
          });
        }
      });
      canvas.addEventListener('keydown', function(event) {
        if (WebGlut.ended) return;
        var key = event.key;
        var special = WebGlut.SPECIAL[key];
        var typed = key.length == 1 ? key.charCodeAt(0) : WebGlut.TYPED[key];
        if (special !== undefined && WebGlut.special) {
          event.preventDefault();
          WebGlut.call(function() {
            {{{ makeDynCall('viii', 'WebGlut.special') }}}(special, WebGlut.x, WebGlut.y);
          });
        } else if (typed !== undefined && typed < 256 && WebGlut.keyboard) {
          event.preventDefault();
          WebGlut.call(function() {
            {{{ makeDynCall('viii', 'WebGlut.keyboard') }}}(typed, WebGlut.x, WebGlut.y);
          });
        }
      });
      window.addEventListener('mousemove', function(event) { WebGlut.trackMenu(event, false); });
      window.addEventListener('mousedown', function(event) { WebGlut.trackMenu(event, false); }, true);
      window.addEventListener('mouseup', function(event) { WebGlut.trackMenu(event, true); }, true);
    },

    // Shows menu n with its corner just below and right of the pointer.
    openMenu: function(n, event) {
      var menu = WebGlut.menus[n];
      var element = document.createElement('div');
      element.className = 'glut-menu';
      element.setAttribute('role', 'menu');
      element.style.position = 'absolute';
      element.style.left = (event.pageX + 2) + 'px';
      element.style.top = (event.pageY + 2) + 'px';
      menu.entries.forEach(function(entry) {
        var item = document.createElement('div');
        item.className = 'glut-menu-entry';
        item.setAttribute('role', 'menuitem');
        item.textContent = entry.label;
        item.glutValue = entry.value;
        element.appendChild(item);
      });
      document.body.appendChild(element);
      WebGlut.open = {element: element, menu: menu, press: {x: event.clientX, y: event.clientY}};
    },

    // The menu entry under a mouse event, or null.
    entryAt: function(event) {
      var target = document.elementFromPoint(event.clientX, event.clientY);
      return target && target.parentNode === WebGlut.open.element ? target : null;
    },

    // While the menu is open: highlights the entry under the pointer; a release on an
    // entry chooses it, and a release elsewhere closes the menu, except the release of
    // the press that opened it where it was pressed (a click), which leaves it open for
    // a second click.
    trackMenu: function(event, release) {
      var open = WebGlut.open;
      if (!open) return;
      var entry = WebGlut.entryAt(event);
      Array.prototype.forEach.call(open.element.children, function(item) {
        item.classList.toggle('active', item === entry);
      });
      if (event.type == 'mousedown') {
        event.preventDefault();
        event.stopPropagation();
        if (!entry) WebGlut.closeMenu(null);
        return;
      }
      if (!release) return;
      event.stopPropagation();
      var press = open.press;
      open.press = null;
      if (entry) {
        WebGlut.closeMenu(entry.glutValue);
      } else if (!(press && Math.abs(event.clientX - press.x) <= 2 &&
                   Math.abs(event.clientY - press.y) <= 2)) {
        WebGlut.closeMenu(null);
      }
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

    // The program has exited: no more frames or input, the menu goes, the page is told.
    end: function(status) {
      if (WebGlut.ended) return;
      WebGlut.ended = true;
      ABORT = true; // the frame loop and every later callback stop here
      if (WebGlut.open) {
        WebGlut.open.element.remove();
        WebGlut.open = null;
      }
      if (Module['onProgramEnd']) Module['onProgramEnd'](status);
    },
  },
  // exit() reaches quit_ whether or not the runtime shuts down; the program ends there.
  $WebGlut__postset: 'var webGlutQuit = quit_; quit_ = function(status, toThrow) { WebGlut.end(status); webGlutQuit(status, toThrow); };',

  // The toolchain's glutCreateWindow makes its WebGL context through GL only when the
  // program calls a WebGL function itself; the web layer draws from JavaScript instead.
  glutCreateWindow__deps: ['$Browser', '$GL'],

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
