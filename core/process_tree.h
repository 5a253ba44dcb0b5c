#pragma once

// The processes below this one, found through the parent links in /proc, and the means to
// stop all of them. A child can leave its parent's process group (a Jupyter kernel leads a
// session of its own, and so may anything a cell starts), but while this process adopts
// orphans it cannot leave this process's tree.

#include <sys/types.h>

#include <functional>
#include <vector>

namespace vordak {

// Makes this process the reaper of its orphaned descendants (PR_SET_CHILD_SUBREAPER): a
// process whose parent ends becomes this process's child instead of init's.
void adopt_orphans();

// The live processes below `root`, each listed after its parent; zombies have ended and are
// left out. A process in `spared` is passed over together with everything below it.
std::vector<pid_t> descendants(pid_t root, const std::vector<pid_t>& spared = {});

// True while `pid` names a process that has not ended.
bool running(pid_t pid);

// SIGKILLs the processes `find` lists, and again, until it lists none: a process started
// meanwhile is caught as well. Gives up after a few seconds on processes that cannot die
// (stuck in the kernel).
void kill_until_gone(const std::function<std::vector<pid_t>()>& find);

// Reaps, without waiting, this process's children that have ended, except those in `kept`.
void reap_ended_children(const std::vector<pid_t>& kept);

}  // namespace vordak
