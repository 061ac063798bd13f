#include "shells/qt/BackgroundTrim.h"

#include "kit/core/Log.h"
#include "kit/core/ResidentMemory.h"
#include "kit/core/Timer.h"

#include <memory>
#include <utility>

namespace qtshell::BackgroundTrim {

namespace {

enum Trim { None = 0, Engine = 1, Everything = 2 };

struct State {
    bool shown { false };
    int livePages { 0 };
    std::string engineLibrary;
    std::vector<std::string> engineLibraries;
    Trim done { None };
    std::shared_ptr<kit::Timer> pending;
    int tries { 0 };
};

// How many times a trim waits for the renderer to end before it goes ahead.
constexpr int maximumTries = 30;

State& state()
{
    static State s;
    return s;
}

Trim wanted(const State& s)
{
    if (s.livePages > 0)
        return None;
    if (!s.shown)
        return Everything;
    return s.engineLibrary.empty() ? None : Engine;
}

void trim(Trim what)
{
    auto& s = state();
    const auto before = kit::ResidentMemory::residentBytes();
    if (what == Everything) {
        kit::ResidentMemory::trimHeap();
        kit::ResidentMemory::pageOutFiles();
    } else {
        // What the engine's browser side freed (its pages' heaps) goes back too.
        kit::ResidentMemory::trimHeap();
        kit::ResidentMemory::pageOutFiles(s.engineLibrary);
        for (const auto& library : s.engineLibraries)
            if (library != s.engineLibrary)
                kit::ResidentMemory::pageOutFiles(library);
    }
    s.done = what;
    const auto after = kit::ResidentMemory::residentBytes();
    kit::log(std::string(what == Everything ? "Closed window" : "No web page left") + ": resident memory "
        + std::to_string(before >> 20) + " MB, " + std::to_string(after >> 20) + " MB once given back");
}

void schedule();

void reconsider()
{
    auto& s = state();
    const Trim want = wanted(s);
    // Something is in use again: a later let-go trims anew.
    if (want < s.done)
        s.done = want;
    if (want <= s.done) {
        s.pending.reset();
        return;
    }
    s.tries = 0;
    schedule();
}

void schedule()
{
    auto& s = state();
    s.pending = kit::Timer::scheduled(settleDelay, false, [](kit::Timer&) {
        auto& s = state();
        s.pending.reset();
        const Trim want = wanted(s);
        if (want <= s.done)
            return;
        // The renderer ending shares the engine's pages until it has gone: they would stay.
        if (!s.engineLibrary.empty() && ++s.tries < maximumTries && kit::ResidentMemory::childMaps(s.engineLibrary)) {
            schedule();
            return;
        }
        trim(want);
    });
}

} // namespace

void windowShown(bool shown)
{
    if (std::exchange(state().shown, shown) != shown)
        reconsider();
}

void livePagesChanged(int delta)
{
    state().livePages += delta;
    reconsider();
}

void engineStarted(const std::string& libraryPath)
{
    state().engineLibrary = libraryPath;
    reconsider();
}

void engineLibrariesLoaded(std::vector<std::string> libraries)
{
    state().engineLibraries = std::move(libraries);
    reconsider();
}

int lastTrim() { return state().done; }

} // namespace qtshell::BackgroundTrim
