#pragma once
// The output options of the window (ファイル -> 出力オプション): adaptive depth
// and its allowed error, and the document's options for printing and game
// engines: a solid base and its depth, the terrain's proportions and smooth
// heights. The dialog edits a copy and hands it back only when the user
// confirms with values that can be used.

#include <QDialog>
#include <QString>

#include "terrain/terraindocument.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

struct OutputOptions {
    // Subdivide each leaf only as deep as the terrain needs, up to the depth.
    bool adaptive = talorin::kDefaultAdaptive;
    // The allowed error in output height units (talorin::MaxErrorInRange); as
    // typed, and its value.
    QString maxErrorText = QString::fromUtf8(talorin::kDefaultMaxErrorText);
    double maxError = talorin::kDefaultMaxError;
    // Held by the document (and its project file); the window fills them in
    // before the dialog and hands them to the document after it.
    // A solid base, applied when saving in a format other than .suf; its
    // depth as typed and its value (finite, above 0).
    bool solid = talorin::kDefaultSolid;
    QString solidBaseText = QString::fromUtf8(talorin::kDefaultSolidBaseText);
    double solidBase = talorin::kDefaultSolidBase;
    talorin::TerrainAspect aspect = talorin::kDefaultAspect;
    talorin::HeightSampling sampling = talorin::kDefaultSampling;
    // True scale, kept by the window: the size and height fields take a
    // georeferenced elevation raster's real extent and relief in metres (the
    // relief times the exaggeration, as typed and its value), and the
    // proportions the image's.
    bool trueScale = false;
    QString exaggerationText = QStringLiteral("1");
    double exaggeration = 1;
    // Why the image loaded now cannot be made at true scale; empty when it can.
    // The window fills it in before the dialog.
    QString trueScaleUnavailable{};
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
    // depth is on) or a base depth that cannot (while the solid is on) keeps
    // the dialog open and says why under the fields.
    void accept() override;

  private:
    void updateEnabled();

    OutputOptions m_options;
    QCheckBox* m_adaptive = nullptr;
    QLineEdit* m_maxError = nullptr;
    QCheckBox* m_solid = nullptr;
    QLineEdit* m_solidBase = nullptr;
    QComboBox* m_aspect = nullptr;
    QCheckBox* m_smooth = nullptr;
    QCheckBox* m_trueScale = nullptr;
    QLineEdit* m_exaggeration = nullptr;
    QLabel* m_problem = nullptr;
};

// The note under the options on sizing a print.
inline constexpr const char* kPrintSizeNote =
    "STL has no units; slicers read it in millimetres: a size of 150 prints 150 mm wide.";

// Runs the dialog modally; true (with options replaced) when the user confirmed.
bool RunOutputOptionsDialog(QWidget* parent, OutputOptions& options);
