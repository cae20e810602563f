// `zfit demo`: every family fits its embedded sample data and prints the
// result. Each family contributes one function, listed in demo.cpp; with
// `zfit demo --svg DIR` it also draws its fit through demo::picture.
#pragma once

#include <cstdio>
#include <string>

#include <zfit/zfit.hpp>

#include "cli.hpp"

namespace demo {

// Prints the status's name and returns a non-zero exit code for a failure.
int report(const char* what, zfit_status status);

// Writes the figure to DIR/<name>.svg when a picture directory was given;
// returns a non-zero exit code when it cannot be written.
int picture(const char* name, const zcli::Figure& figure);

int line();
int circle();
int ellipse();
int pointToLine();
int parabola();
int pointToPoint();
int roundness();

}  // namespace demo

// Runs every family's demo; pictures go to svgDirectory unless it is empty.
int runDemo(const std::string& svgDirectory);
