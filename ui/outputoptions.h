#pragma once
// The output options of the window (ファイル -> 出力オプション): adaptive depth
// and its allowed error. The dialog edits a copy and hands it back only when
// the user confirms with values that can be used.

#include <QDialog>
#include <QString>

#include "terrain/terraindocument.h"

class QCheckBox;
class QLabel;
class QLineEdit;

struct OutputOptions {
    // Subdivide each leaf only as deep as the terrain needs, up to the depth.
    bool adaptive = talorin::kDefaultAdaptive;
    // The allowed error in output height units (talorin::MaxErrorInRange); as
    // typed, and its value.
    QString maxErrorText = QString::fromUtf8(talorin::kDefaultMaxErrorText);
    double maxError = talorin::kDefaultMaxError;
    friend bool operator==(const OutputOptions&, const OutputOptions&) = default;
};

// The allowed error of a text as the window's number fields read it: a
// finite number greater than 0. False, leaving value alone, for anything else.
bool ParseAllowedError(const QString& text, double& value);

class OutputOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    OutputOptionsDialog(QWidget* parent, const OutputOptions& options);

    // The options as confirmed; the ones given until accept() succeeded.
    const OutputOptions& options() const { return m_options; }

    // Takes the fields; an allowed error that cannot be used (while adaptive
    // depth is on) keeps the dialog open and says why under the field.
    void accept() override;

  private:
    void updateEnabled();

    OutputOptions m_options;
    QCheckBox* m_adaptive = nullptr;
    QLineEdit* m_maxError = nullptr;
    QLabel* m_problem = nullptr;
};

// Runs the dialog modally; true (with options replaced) when the user confirmed.
bool RunOutputOptionsDialog(QWidget* parent, OutputOptions& options);
