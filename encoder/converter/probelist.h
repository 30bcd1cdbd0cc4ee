#pragma once

// The converter's list probe ("-probe-list"): reads NUL-terminated paths on
// standard input and answers each, in the order read, with
//   Probe <index> $<whole seconds>$      or
//   Probe <index> failed <reason>
// flushed line by line (index from 0). A file that cannot be measured only
// fails its own line; a stop request (SIGTERM) ends the process by its
// signal, a closed standard output ends the list. Expects the handlers of
// interruption::install(). Returns the exit status.
int runProbeList();
