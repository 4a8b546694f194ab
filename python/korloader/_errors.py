"""korloader.KorError, raised by the extension."""


class KorError(OSError):
    """The library refused a file, or a channel does not decode.

    status: the load status of a refused open (3: no usable file, or not a
    cache path; 4: damaged or truncated file, or out of memory; 2: import
    module not ready, see init_plugins(); 9: no channel mapping; others: the
    import module's own codes), or None for a channel that does not decode.
    log: the library's log lines for that call. filename: the frame's path.
    """

    def __init__(self, message, filename=None, status=None, log=()):
        super().__init__(message)
        self.filename = filename
        self.status = status
        self.log = list(log)

    def __str__(self):
        return str(self.args[0]) if self.args else ""
