// The calls the library wants on one thread at a time (the factories,
// deleteIKor, initalizeKoraLoader, and the grid listing that reads the
// import modules' state) are serialised across Python threads by one mutex.
//
// Lock order: the GIL, then this mutex. Code holding the mutex never takes
// the GIL and never runs Python code, so a thread may wait for it with or
// without the GIL: a numpy array's capsule gives its frame back while it
// holds the GIL, a slow open runs without it.
#pragma once
#include <pybind11/pybind11.h>

#include <mutex>
#include <utility>

namespace KorPython {

std::mutex& LibraryMutex();

// Runs `call` under the mutex with the GIL released, for the slow calls:
// opening a frame, loading the import modules, listing a file's grids.
template <class Call>
auto Serialised(Call&& call) {
    pybind11::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(LibraryMutex());
    return std::forward<Call>(call)();
}

}  // namespace KorPython
