#pragma once
// One lock for the whole process around opening and closing codecs and reading stream
// information: the libraries' codec setup is not safe to run on two threads at once.
#include <mutex>

std::recursive_mutex& CodecLock();
