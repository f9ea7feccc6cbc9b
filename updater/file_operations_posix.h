#pragma once
// File operations of the assistant on POSIX systems that need more than one system call. Each
// reports failure as a value and never throws.

#include "install_operations.h"

#include <optional>
#include <string>
#include <vector>

// Removes the entry and its whole tree without following links. Directories are first made
// readable, writable and searchable by their owner. Nothing when nothing remains, else
// "Could not remove “PATH”: " and the system's text for the first entry that stayed.
std::optional<std::string> removeTreeForcibly(const std::string& path);

// Full paths of the entries of the prefix's directory whose names begin with its last component.
std::vector<std::string> entriesStartingWith(const std::string& pathPrefix);

// The entry's inode number in decimal, without following a link; nothing when it is missing.
std::optional<std::string> entryIdentity(const std::string& path);

// The entry's device and inode, without following a link; nothing when it is missing.
std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path);

// The name of a new temporary file for the log at directory/name, marked with this process.
std::string temporaryLogName(const std::string& directory, const std::string& name);

// Removes the temporary files of the log at directory/name that processes no longer running
// left behind (a kill between their creation and the rename).
void removeStaleTemporaries(const std::string& directory, const std::string& name);
