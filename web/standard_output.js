// Standard output and standard error for the browser, without the toolchain's file system,
// which the program has no other use for. The page takes standard output byte by byte as
// it is written (Module.stdout), since several of the program's messages begin with their
// line break and a line held back until its end would show them late; standard error goes
// to Module.printErr a line at a time, as the toolchain's own would.
mergeInto(LibraryManager.library, {
  $standardError: [],
  fd_write__deps: ['$standardError'],
  fd_write__sig: 'iiiii',
  fd_write: function(fd, iov, iovcnt, pnum) {
    var written = 0;
    for (var i = 0; i < iovcnt; i++) {
      var base = HEAPU32[(iov >> 2) + 2 * i], length = HEAPU32[(iov >> 2) + 2 * i + 1];
      for (var j = 0; j < length; j++) {
        var byte = HEAPU8[base + j];
        if (fd == 1) {
          if (Module['stdout']) Module['stdout'](byte);
        } else if (byte == 10) {
          err(UTF8ArrayToString(standardError, 0));
          standardError.length = 0;
        } else {
          standardError.push(byte);
        }
      }
      written += length;
    }
    HEAPU32[pnum >> 2] = written;
    return 0;
  },
});
