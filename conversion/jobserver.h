// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QProcess;

// A budget of threads shared by the tools of one run, handed out the way GNU
// make hands out job slots: a pipe holds one byte per free thread, a tool
// takes a byte before it starts another thread of its own and writes it back
// when that thread ends. Every tool started also holds one implicit slot, as
// every job of make does, so a tool that gets no byte still runs on one.
//
// The tools find the pipe through MAKEFLAGS ("--jobserver-auth=R,W", the
// form make 4.3 writes); its two descriptors are open in the tools started
// through inherit() and in no other program this process starts.
class Jobserver
{
public:
    Jobserver();
    ~Jobserver();
    Jobserver(const Jobserver &) = delete;
    Jobserver &operator=(const Jobserver &) = delete;

    bool isValid() const { return readEnd >= 0; }
    // Puts `tokens` more threads into the budget.
    void release(int tokens);
    // The bytes in the pipe now: threads not taken by any tool.
    int available() const;
    // Sets up process so that it inherits the pipe and names it in MAKEFLAGS;
    // jobs is the whole budget, as "-j" gives it to make.
    void inherit(QProcess &process, int jobs) const;

private:
    int readEnd = -1;
    int writeEnd = -1;
};

// The MAKEFLAGS value that names a jobserver: " -j<jobs> --jobserver-auth=<r>,<w>".
QString jobserverMakeflags(int jobs, int readEnd, int writeEnd);
