// The bridge between a batch script as the program reads it and the in-memory engine: the job
// with its resolved names, and the picture decoder the engine uses.
#pragma once

#include "batch.h"
#include "engine.h"

namespace tovra {

// The engine's job for a script read from `scriptFolder`; `part` (1..parts) keeps every
// parts-th listed file, starting with the part-th.
engine::Job engineJob(const Script& script, const QString& scriptFolder, int part = 1, int parts = 1);

// Decodes BMP, JPEG and GIF files as opening them in the program does.
engine::PictureReader qtPictureReader();

} // namespace tovra
