#pragma once

#include <QTranslator>

// The few texts Qt's own widgets show in this window (the text boxes' context menu), in
// the window's language: no catalogue of Qt's translations ships with a static build.
class QtTexts : public QTranslator
{
public:
    QString translate(const char *context, const char *source, const char *disambiguation,
                      int n) const override;
};
