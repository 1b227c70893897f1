// The operation codes of a batch script, shared by the program and the in-memory engine.
#pragma once

#include <cstdint>

namespace tovra {

// The operation codes of a script.
enum BatchCode : int16_t {
    kCodeMedian = 10,
    kCodeDifferenceWorkFirst = 20,
    kCodeDifferenceReferenceFirst = 30,
    kCodeBinarize = 40,
    kCodeOverValue = 50,
    kCodeEdgeTwoLevel = 60,
    kCodeEdgeOrdinary = 65,
    kCodeDust = 70,
    kCodeInvert = 80,
    kCodeHistogramPeak = 90,
    kCodeHistogramMean = 95,
    kCodeSaveBmp = 100,
    kCodeSaveRaw = 110,
    kCodeSaveCsv = 120,
    kCodeContrast = 130,
    kCodeFlipLeftRight = 140,
    kCodeFlipUpDown = 145,
};

} // namespace tovra
