#pragma once

#include "model/project.h"

#include <QString>

#include <optional>

// The ranges the project panel allows. Output takes a stored project only
// when every setting lies within them, so the window and the command-line
// tool agree about one database (the panel clamps what it shows; the tool
// reads the stored values).
namespace projectlimits {
constexpr double minimumLengthMm = 1;
constexpr double maximumLengthMm = 2000; // within PDF's page limit of 14,400 pt = 5,080 mm
constexpr int minimumCount = 1;
constexpr int maximumCount = 100;
} // namespace projectlimits

// Half the smaller card side less 0.01 mm, never below 0: a bleed guide must
// stay strictly inside the card.
double bleedMaximumMm(double cardWidthMm, double cardHeightMm);

// The first setting of `project` that output cannot use, as one sentence
// naming the setting as the panel labels it, the stored value and the allowed
// range, e.g. "Finished Width is 0 mm; allowed are 1 to 2000 mm." (not a
// number and infinities included), or that the card does not fit on the sheet
// at all. nullopt when the geometry can be printed.
std::optional<QString> projectGeometryError(const Project &project);
