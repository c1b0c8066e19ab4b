// One run for a whole selection. A file manager's entry starts
//     palvex --selection OPTION... -- PATH...
// Most give the whole selection to one start; those that start the program once
// per file start it many times at once. The first start of a person's session
// listens on a local socket in the runtime folder; a later start hands its paths
// (made absolute) over and ends, and the running program takes them into its
// run, or into a run right after it when they came too late or with other options.
#pragma once

#include <QLocalServer>

#include <memory>
#include <string>
#include <vector>

namespace palvex {

class TFormMain;

class TSelectionStart {
public:
    // arguments: the program's arguments after its path.
    explicit TSelectionStart(std::vector<std::string> arguments);
    ~TSelectionStart();

    // True when there is nothing left for this start: a running palvex took the
    // selection, or the selection was empty.
    bool Done() const { return m_done; }
    // The main window's arguments: none for a selection, which goes through Serve.
    std::vector<std::string> WindowArguments() const;
    // Hands this start's selection to main and, while main takes them, the selections of later starts.
    void Serve(TFormMain& main);

    // The socket of the person's session.
    static QString ServerName();

private:
    bool HandOver() const;

    std::vector<std::string> m_arguments;
    std::vector<std::vector<std::string>> m_runs;
    bool m_selection = false;
    bool m_done = false;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace palvex
