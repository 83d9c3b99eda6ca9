#pragma once

#include "cli/cli.h"

// The few texts Qt's own widgets show in this window (the text boxes' context menu), in the
// window's language.
class QtTexts : public cli::TextTable
{
public:
    QtTexts();
};
