#include "ui/outputoptions.h"

#include <QCheckBox>
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
    setWindowTitle(QStringLiteral("出力オプション"));
    setObjectName(QStringLiteral("OutputOptions"));

    m_adaptive = new QCheckBox(QStringLiteral("地形に合わせて分割の深さを変える(&A)"), this);
    m_adaptive->setObjectName(QStringLiteral("Adaptive"));
    m_adaptive->setToolTip(QStringLiteral(
        "再帰回数を上限として、地形が許容誤差より大きくずれる所だけ細かく分割します"));
    m_adaptive->setChecked(options.adaptive);

    auto* label = new QLabel(QStringLiteral("許容誤差(&E):"), this);
    m_maxError = new QLineEdit(options.maxErrorText, this);
    m_maxError->setObjectName(QStringLiteral("MaxError"));
    m_maxError->setToolTip(QStringLiteral("高さと同じ単位で、0 より大きい数です"));
    label->setBuddy(m_maxError);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("Problem"));
    m_problem->setStyleSheet(QStringLiteral("color: red"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OutputOptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_adaptive, &QCheckBox::toggled, this, [this] { updateEnabled(); });

    auto* grid = new QGridLayout;
    grid->addWidget(m_adaptive, 0, 0, 1, 2);
    grid->addWidget(label, 1, 0);
    grid->addWidget(m_maxError, 1, 1);
    grid->addWidget(m_problem, 2, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    updateEnabled();
}

void OutputOptionsDialog::updateEnabled() {
    m_maxError->setEnabled(m_adaptive->isChecked());
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
