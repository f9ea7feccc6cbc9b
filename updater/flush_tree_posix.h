#pragma once
// Puts every regular file and folder of a tree to the drive, one fsync each; returns 0 or the
// first error number. Other entries (fifos, sockets, devices, links) hold no data of the tree and
// are passed over: opening a fifo would wait for a writer that never comes. Entries that cannot
// be opened for reading are passed over too (their content was written before, by the copy
// program as well).
int flushEveryEntry(const char* path);
