/*
 * PAGEFS: the worker's file system for one conversion. Mounted with
 *   {input: {name, data}, sink}
 * it holds one read-only input file (`name` may hold folders), read from the
 * browser's File or Blob by slices with FileReaderSync (never copied whole),
 * or, where the worker cannot read a Blob, from the bytes the page read for
 * it: `data` is then {size, windows}, the file's bytes as Uint8Arrays of
 * WINDOW bytes each, in order (the last one shorter); a window the page
 * could not read is {name} instead, the name of the browser's error. It lets
 * the converter create one output file beside it, whose bytes go to
 * `sink.write(bytes, position)` as they are written instead of staying in
 * the WebAssembly memory. Truncating or removing the output calls
 * `sink.reset()`. The output is a regular file to the converter, so a failed
 * run removes it as on every other host.
 */
mergeInto(LibraryManager.library, {
  $PAGEFS__deps: ['$FS'],
  $PAGEFS: {
    DIR_MODE: {{{ cDefine('S_IFDIR') }}} | 511 /* 0777 */,
    reader: null,
    WINDOW: 16 << 20,
    mount: function(mount) {
      if (!PAGEFS.reader) PAGEFS.reader = new FileReaderSync();
      var sink = mount.opts.sink;
      var root = PAGEFS.createNode(null, '/', PAGEFS.DIR_MODE, sink);
      var input = mount.opts.input;
      var parts = input.name.split('/');
      var parent = root;
      for (var i = 0; i < parts.length - 1; i++) {
        parent = parent.contents[parts[i]] || PAGEFS.createNode(parent, parts[i], PAGEFS.DIR_MODE, sink);
      }
      var file = PAGEFS.createNode(parent, parts[parts.length - 1], {{{ cDefine('S_IFREG') }}} | 292 /* 0444 */, sink);
      if (input.data instanceof Blob) file.blob = input.data;
      else file.windows = input.data.windows;
      file.size = input.data.size;
      return root;
    },
    createNode: function(parent, name, mode, sink) {
      var node = FS.createNode(parent, name, mode, 0);
      node.sink = sink;
      node.node_ops = PAGEFS.node_ops;
      node.stream_ops = PAGEFS.stream_ops;
      node.timestamp = Date.now();
      node.size = FS.isDir(mode) ? 4096 : 0;
      node.contents = FS.isDir(mode) ? {} : null;
      if (parent) parent.contents[name] = node;
      return node;
    },
    node_ops: {
      getattr: function(node) {
        return {
          dev: 1, ino: node.id, mode: node.mode, nlink: 1, uid: 0, gid: 0, rdev: 0,
          size: node.size,
          atime: new Date(node.timestamp), mtime: new Date(node.timestamp), ctime: new Date(node.timestamp),
          blksize: 4096, blocks: Math.ceil(node.size / 4096),
        };
      },
      setattr: function(node, attr) {
        if (attr.size !== undefined) {
          if (!node.output || attr.size !== 0) throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
          node.size = 0;
          node.sink.reset();
        }
        if (attr.mode !== undefined) node.mode = attr.mode;
        if (attr.timestamp !== undefined) node.timestamp = attr.timestamp;
      },
      lookup: function(parent, name) {
        throw new FS.ErrnoError({{{ cDefine('ENOENT') }}});
      },
      // Only the output is ever created: one regular file.
      mknod: function(parent, name, mode, dev) {
        if (!FS.isFile(mode)) throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
        var node = PAGEFS.createNode(parent, name, mode, parent.sink);
        node.output = true;
        return node;
      },
      unlink: function(parent, name) {
        var node = parent.contents[name];
        if (!node || !node.output) throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
        node.sink.reset();
        delete parent.contents[name];
      },
      rename: function() { throw new FS.ErrnoError({{{ cDefine('EPERM') }}}); },
      rmdir: function() { throw new FS.ErrnoError({{{ cDefine('EPERM') }}}); },
      symlink: function() { throw new FS.ErrnoError({{{ cDefine('EPERM') }}}); },
      readlink: function() { throw new FS.ErrnoError({{{ cDefine('EINVAL') }}}); },
      readdir: function(node) {
        return ['.', '..'].concat(Object.keys(node.contents));
      },
    },
    stream_ops: {
      // Reads come from a window of the file, read 16 MiB at a time: each
      // FileReaderSync call costs milliseconds, whatever its size. A read
      // across the end of one of the page's windows stops there (a short
      // read: the converter asks again for the rest).
      read: function(stream, buffer, offset, length, position) {
        var node = stream.node;
        if (!node.blob && !node.windows) throw new FS.ErrnoError({{{ cDefine('EBADF') }}});
        if (position >= node.size) return 0;
        var end = Math.min(node.size, position + length);
        if (!node.window || position < node.windowStart || end > node.windowStart + node.window.length) {
          try {
            if (node.windows) {
              var index = Math.floor(position / PAGEFS.WINDOW);
              node.window = null;
              if (!(node.windows[index] instanceof Uint8Array)) throw node.windows[index];
              node.window = node.windows[index];
              node.windowStart = index * PAGEFS.WINDOW;
              end = Math.max(position, Math.min(end, node.windowStart + node.window.length));
            } else {
              var slice = node.blob.slice(position, Math.min(node.size, position + Math.max(length, PAGEFS.WINDOW)));
              node.window = new Uint8Array(PAGEFS.reader.readAsArrayBuffer(slice));
              node.windowStart = position;
              if (node.window.length < slice.size) end = position + node.window.length;
            }
          } catch (e) {
            // The browser could not read the file (moved, removed or unreadable).
            node.window = null;
            node.sink.readFailed(e);
            throw new FS.ErrnoError({{{ cDefine('EIO') }}});
          }
        }
        var from = position - node.windowStart;
        buffer.set(node.window.subarray(from, from + (end - position)), offset);
        node.sink.read(end);
        return end - position;
      },
      // The output is written in order; its bytes leave at once.
      write: function(stream, buffer, offset, length, position) {
        var node = stream.node;
        if (!node.output || position !== node.size) throw new FS.ErrnoError({{{ cDefine('EIO') }}});
        if (!node.sink.write(buffer.subarray(offset, offset + length), position)) {
          throw new FS.ErrnoError({{{ cDefine('ENOMEM') }}});
        }
        node.size += length;
        return length;
      },
      llseek: function(stream, offset, whence) {
        var position = offset;
        if (whence === {{{ cDefine('SEEK_CUR') }}}) position += stream.position;
        else if (whence === {{{ cDefine('SEEK_END') }}}) position += stream.node.size;
        if (position < 0) throw new FS.ErrnoError({{{ cDefine('EINVAL') }}});
        return position;
      },
    },
  },
});
