#pragma once
// The program's embedded files (help texts, busy animation). They live in a
// static library, so they are registered explicitly before first use.
void InitPellimarResources();
