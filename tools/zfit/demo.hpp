// `zfit demo`: every family fits its embedded sample data and prints the
// result. Each family contributes one function, listed in demo.cpp.
#pragma once

#include <cstdio>

#include <zfit/zfit.h>

namespace demo {

// Prints the status's name and returns a non-zero exit code for a failure.
int report(const char* what, zfit_status status);

int line();
int circle();
int ellipse();
int pointToLine();
int parabola();
int pointToPoint();

}  // namespace demo

int runDemo();
