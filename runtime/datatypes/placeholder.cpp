// Removed once the first datatype module lands.
