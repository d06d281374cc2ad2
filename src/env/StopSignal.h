#pragma once
// SIGINT, SIGTERM and SIGHUP as the stop button of a run. While a comparison
// or synchronisation is under way (a StopSignal::RunScope lives), such a
// signal only asks the run to stop: Progress::yield returns false from then
// on, the row under way finishes, and the program ends once the run has
// wound up. At any other time the signal has its default effect (the
// process ends at once), so an idle window or a command waiting on
// something still ends as before.
namespace velmor::StopSignal {

// Installs the handler for the three signals (SA_RESTART: system calls
// under way go on). Once per process, before the first run; throws
// std::system_error when the system refuses.
void install();

// A stop signal came while a run was under way; stays true for the rest of
// the process (nothing further is started).
bool received();

// The number of that signal, 0 when none came.
int which();

// Marks a run as under way for its lifetime; scopes may nest.
class RunScope {
public:
    RunScope();
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
};

} // namespace velmor::StopSignal
