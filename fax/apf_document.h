#pragma once
// An APF file as a fax document, decoded by the own page decoder.
#include "fax/fax_document.h"

// Fax resolutions an APF page stands for.
constexpr double kApfHorizontalDpi = 204.0;
constexpr double kApfFineDpi = 196.0;
constexpr double kApfStandardDpi = 98.0;

int OpenApfDocument(const std::string& fileName, std::unique_ptr<FaxDocument>& document);
