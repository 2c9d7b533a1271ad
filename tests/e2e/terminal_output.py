"""Reading what a program writes to a pseudo-terminal."""

import os


def read_until_closed(master):
    """Everything written to the terminal whose controlling side is `master`,
    up to the moment the program closes its side; closes `master`."""
    output = bytearray()
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: the program has closed its side
            break
        if not chunk:
            break
        output += chunk
    os.close(master)
    return bytes(output)
