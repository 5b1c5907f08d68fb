#pragma once
// A C stream that is closed on every way out of the scope that opened it.
#include <cstdio>
#include <memory>

struct StdioFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using StdioFile = std::unique_ptr<FILE, StdioFileCloser>;
