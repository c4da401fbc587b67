#include "ui/outputoptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cmath>

#include "terrain/adaptive.h"
#include "base/error.h"
#include "base/numtext.h"

bool ParseAllowedError(const QString& text, double& value) {
    double v = 0;
    if (!vesk::ParseSufNumber(text.toStdString(), v) || !talorin::MaxErrorInRange(v))
        return false;
    value = v;
    return true;
}

OutputOptionsDialog::OutputOptionsDialog(QWidget* parent, const OutputOptions& options)
    : QDialog(parent), m_options(options) {
    setWindowTitle(tr("出力オプション"));
    setObjectName(QStringLiteral("OutputOptions"));

    m_adaptive = new QCheckBox(tr("地形に合わせて分割の深さを変える(&A)"), this);
    m_adaptive->setObjectName(QStringLiteral("Adaptive"));
    m_adaptive->setToolTip(tr("再帰回数を上限として、地形が許容誤差より大きくずれる所だけ細かく分割します"));
    m_adaptive->setChecked(options.adaptive);

    auto* label = new QLabel(tr("許容誤差(&E):"), this);
    m_maxError = new QLineEdit(options.maxErrorText, this);
    m_maxError->setObjectName(QStringLiteral("MaxError"));
    m_maxError->setToolTip(tr("高さと同じ単位で、0 より大きい数です"));
    label->setBuddy(m_maxError);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("Problem"));
    m_problem->setStyleSheet(QStringLiteral("color: red"));

    m_solid = new QCheckBox(tr("台座を付ける(&B)"), this);
    m_solid->setObjectName(QStringLiteral("Solid"));
    m_solid->setToolTip(tr("地形の縁から平らな底まで壁を付けて、印刷できる立体にします。"
        "OBJ, STL, PLY, glb で保存するときに付き、.suf には付きません"));
    m_solid->setChecked(options.solid);
    auto* baseLabel = new QLabel(tr("台座の厚さ(&D):"), this);
    m_solidBase = new QLineEdit(options.solidBaseText, this);
    m_solidBase->setObjectName(QStringLiteral("SolidBase"));
    m_solidBase->setToolTip(tr("高さ 0 から底までの深さ。高さと同じ単位で、0 より大きい数です"));
    baseLabel->setBuddy(m_solidBase);

    auto* aspectLabel = new QLabel(tr("縦横比(&P):"), this);
    m_aspect = new QComboBox(this);
    m_aspect->setObjectName(QStringLiteral("Aspect"));
    m_aspect->addItem(tr("正方形 (一辺がサイズ)"));
    m_aspect->addItem(tr("画像と同じ (長い辺がサイズ)"));
    m_aspect->setCurrentIndex(options.aspect == talorin::TerrainAspect::Image ? 1 : 0);
    aspectLabel->setBuddy(m_aspect);

    m_smooth = new QCheckBox(tr("高さをなめらかにする(&S)"), this);
    m_smooth->setObjectName(QStringLiteral("Smooth"));
    m_smooth->setToolTip(
        tr("点の高さを、まわりの 4 つの画素の明るさから補間して求めます"));
    m_smooth->setChecked(options.sampling == talorin::HeightSampling::Bilinear);

    m_trueScale = new QCheckBox(tr("実寸(&T)"), this);
    m_trueScale->setObjectName(QStringLiteral("TrueScale"));
    auto* exaggerationLabel = new QLabel(tr("高さの倍率(&X):"), this);
    m_exaggeration = new QLineEdit(options.exaggerationText, this);
    m_exaggeration->setObjectName(QStringLiteral("Exaggeration"));
    m_exaggeration->setToolTip(tr("起伏を何倍にするか。0 より大きい数です"));
    exaggerationLabel->setBuddy(m_exaggeration);
    if (options.trueScaleUnavailable.isEmpty()) {
        m_trueScale->setToolTip(
            tr("大きさと高さを、標高データの実際の広さと起伏 (メートル) にします"));
        m_trueScale->setChecked(options.trueScale);
    } else {
        // Greyed, and the hint says why.
        m_trueScale->setToolTip(options.trueScaleUnavailable);
        m_trueScale->setEnabled(false);
    }

    auto* note = new QLabel(QString::fromUtf8(kPrintSizeNote), this);
    note->setObjectName(QStringLiteral("PrintSizeNote"));
    note->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OutputOptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_adaptive, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    connect(m_solid, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    connect(m_trueScale, &QCheckBox::toggled, this, [this] { updateEnabled(); });

    auto* grid = new QGridLayout;
    grid->addWidget(m_adaptive, 0, 0, 1, 2);
    grid->addWidget(label, 1, 0);
    grid->addWidget(m_maxError, 1, 1);
    grid->addWidget(m_solid, 2, 0, 1, 2);
    grid->addWidget(baseLabel, 3, 0);
    grid->addWidget(m_solidBase, 3, 1);
    grid->addWidget(aspectLabel, 4, 0);
    grid->addWidget(m_aspect, 4, 1);
    grid->addWidget(m_smooth, 5, 0, 1, 2);
    grid->addWidget(m_trueScale, 6, 0, 1, 2);
    grid->addWidget(exaggerationLabel, 7, 0);
    grid->addWidget(m_exaggeration, 7, 1);
    grid->addWidget(m_problem, 8, 0, 1, 2);
    grid->addWidget(note, 9, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    updateEnabled();
}

void OutputOptionsDialog::updateEnabled() {
    m_maxError->setEnabled(m_adaptive->isChecked());
    m_solidBase->setEnabled(m_solid->isChecked());
    const bool trueScale = m_trueScale->isEnabled() && m_trueScale->isChecked();
    m_exaggeration->setEnabled(trueScale);
    // True scale keeps the raster's proportions.
    if (trueScale)
        m_aspect->setCurrentIndex(1);
    m_aspect->setEnabled(!trueScale);
    m_problem->clear();
}

void OutputOptionsDialog::accept() {
    OutputOptions next = m_options;
    next.adaptive = m_adaptive->isChecked();
    // While adaptive depth is off the field is not used: whatever it holds
    // is kept for later only when it is a usable value.
    double value = 0;
    if (ParseAllowedError(m_maxError->text(), value)) {
        next.maxErrorText = m_maxError->text();
        next.maxError = value;
    } else if (next.adaptive) {
        m_problem->setText(QString::fromUtf8(talorin::kBadMaxErrorText));
        m_maxError->setFocus();
        m_maxError->selectAll();
        return;
    }
    next.solid = m_solid->isChecked();
    if (ParseAllowedError(m_solidBase->text(), value)) {
        next.solidBaseText = m_solidBase->text();
        next.solidBase = value;
    } else if (next.solid) {
        m_problem->setText(tr("台座の厚さは 0 より大きい数で指定してください"));
        m_solidBase->setFocus();
        m_solidBase->selectAll();
        return;
    }
    next.trueScale = m_trueScale->isEnabled() && m_trueScale->isChecked();
    if (vesk::ParseSufNumber(m_exaggeration->text().toStdString(), value) &&
        std::isfinite(value) && value > 0) {
        next.exaggerationText = m_exaggeration->text();
        next.exaggeration = value;
    } else if (next.trueScale) {
        m_problem->setText(tr("高さの倍率は 0 より大きい数で指定してください"));
        m_exaggeration->setFocus();
        m_exaggeration->selectAll();
        return;
    }
    next.aspect = m_aspect->currentIndex() == 1 ? talorin::TerrainAspect::Image
                                                : talorin::TerrainAspect::Square;
    next.sampling = m_smooth->isChecked() ? talorin::HeightSampling::Bilinear
                                          : talorin::HeightSampling::Nearest;
    m_options = next;
    QDialog::accept();
}

bool RunOutputOptionsDialog(QWidget* parent, OutputOptions& options) {
    OutputOptionsDialog dialog(parent, options);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options = dialog.options();
    return true;
}
