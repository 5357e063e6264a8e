// Removed once the first I/O module lands.
