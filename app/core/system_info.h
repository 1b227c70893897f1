// What a bug report needs to know about the running program and its machine.
#pragma once

#include <QString>

namespace tovra {

class QuarnBinder;

// Program version, toolkit version, operating system, cores and memory, the work folder and the
// libraries loaded: a text the user can copy.
QString systemInformation(const QuarnBinder& quarn);

} // namespace tovra
