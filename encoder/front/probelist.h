#pragma once

#include <string>

// The front's list probe ("-probe-list"): reads NUL-terminated paths on
// standard input and answers each as it is read, "Probe <index> $<seconds>$"
// or "Probe <index> failed <reason>" (index from 0 in the order read), one
// flushed line per file. What TagLib answers with certainty is answered here;
// the other paths go to one converter ("<converter> -probe-list"), started on
// the first of them and fed through a pipe, whose answers are numbered back.
// A converter that ends on a file fails that file's line and a new one takes
// the rest. SIGTERM, SIGINT and SIGHUP stop the converter and end the front
// by the signal; a closed standard output ends both. Returns the exit status.
int answerProbeList(const std::string &converter);
