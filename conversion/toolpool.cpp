// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolpool.h"

#include "jobserver.h"

#include <algorithm>

ToolPool::ToolPool(int slotLimit, Supplier supplier, QObject *parent)
    : QObject(parent)
    , slotLimit(qMax(1, slotLimit))
    , supplier(std::move(supplier))
{
}

ToolPool::~ToolPool()
{
    stopAll();
}

void ToolPool::useJobserver()
{
    jobserver = std::make_unique<Jobserver>();
    if (!jobserver->isValid())
        jobserver.reset();
}

void ToolPool::refill()
{
    // A task that ends at once (a tool that cannot start) asks again from
    // inside this loop; once is enough.
    if (refilling || stopped)
        return;
    refilling = true;
    // Slots already given to the tools' threads are not counted: a task that
    // comes after the supply had run out (an album's gain, once its last
    // file is done) is short, and starts at once.
    while (!stopped && int(running.size()) < slotLimit) {
        ToolTask task;
        const Supply supply = supplier(task);
        supplyEnded = supply == Supply::NoMore;
        if (supply != Supply::Task)
            break;
        auto tool = std::make_unique<ToolProcess>(std::move(task));
        ToolProcess *started = tool.get();
        connect(started, &ToolProcess::ended, this, [this, started] { onEnded(started); }, Qt::QueuedConnection);
        running.push_back(std::move(tool));
        started->start(jobserver.get(), slotLimit);
    }
    refilling = false;
    shareFreeSlots();
    emit refilled();
}

// Once nothing more is to start, every free slot becomes a thread for the
// tools still running. A slot is never taken back: a tool gives its thread
// up when that thread's work is done.
void ToolPool::shareFreeSlots()
{
    if (!jobserver || !supplyEnded || stopped)
        return;
    const int free = slotLimit - int(running.size()) - sharedSlots;
    if (free > 0 && !running.empty()) {
        jobserver->release(free);
        sharedSlots += free;
    }
}

void ToolPool::onEnded(ToolProcess *tool)
{
    const auto it = std::find_if(running.begin(), running.end(),
                                 [tool](const std::unique_ptr<ToolProcess> &entry) { return entry.get() == tool; });
    if (it == running.end())
        return;
    std::unique_ptr<ToolProcess> ended = std::move(*it);
    running.erase(it);
    emit taskEnded(ended.get());
    ended.release()->deleteLater();
    // Its implicit slot is free again: for the next task, or, once there is
    // none, for the threads of those still running.
    refill();
}

void ToolPool::stopAll()
{
    stopped = true;
    std::vector<ToolProcess *> tools;
    for (const std::unique_ptr<ToolProcess> &tool : running)
        tools.push_back(tool.get());
    stopTools(tools);
    // Handed out all the same: what a stopped tool leaves behind is its
    // client's to clear away.
    const std::vector<std::unique_ptr<ToolProcess>> ended = std::move(running);
    running.clear();
    for (const std::unique_ptr<ToolProcess> &tool : ended)
        emit taskEnded(tool.get());
}
