// config/'s internals, for tests only: shipped code outside config/ never
// includes this header.
#pragma once

// The profile the calls of config.h read and write, as ProfileSetPath set it.
const char* ProfileTestingPath();

// The protocol's path: LogOpen sets it when the protocol starts. A test sets it
// here to write lines without a header (empty: no file is written).
void LogTestingSetPath(const char* path);
const char* LogTestingPath();
