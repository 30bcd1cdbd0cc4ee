// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "toolprocess.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class Jobserver;

// Runs tools, at most `slotLimit` tools at a time, and refills a slot the moment its
// tool ends: the pool asks its supplier for the next task whenever a slot is
// free, and the supplier answers with a task, with "not now" (the client
// waits for something; it calls refill() when that has come), or with
// "no more". Everything happens in the event loop of the pool's thread; no
// tool is ever polled.
//
// With a thread budget (useJobserver()), the slots that stay free once the
// supply has run out go to the running tools, which then take more threads
// of their own: the last files of a queue get every core.
class ToolPool : public QObject
{
    Q_OBJECT

public:
    enum class Supply { Task, NotNow, NoMore };
    using Supplier = std::function<Supply(ToolTask &task)>;

    ToolPool(int slotLimit, Supplier supplier, QObject *parent = nullptr);
    ~ToolPool() override; // stops what still runs

    void useJobserver();
    // Asks the supplier for tasks while slots are free.
    void refill();
    // Stops every running tool and returns once they have ended (each is
    // still handed out through taskEnded). The pool starts nothing more.
    void stopAll();

    int runningCount() const { return int(running.size()); }
    bool isIdle() const { return running.empty(); }
    int slotCount() const { return slotLimit; }

signals:
    // A tool has ended; the pool deletes it once the receivers have returned
    // (and then refills its slot).
    void taskEnded(ToolProcess *tool);
    // The supplier has been asked for what it has: what it decided on the
    // way (files it needed no tool for) may be reported now.
    void refilled();

private:
    void onEnded(ToolProcess *tool);
    void shareFreeSlots();

    const int slotLimit;
    Supplier supplier;
    std::unique_ptr<Jobserver> jobserver;
    int sharedSlots = 0; // slots given to the running tools' threads
    std::vector<std::unique_ptr<ToolProcess>> running;
    bool supplyEnded = false;
    bool stopped = false;
    bool refilling = false;
};
