#include "ImportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "widgets/ErrorGuard.h"
#include "widgets/WaitCursor.h"

namespace zeplo::transfer {

namespace {

QString text(const std::string &s) { return QString::fromStdString(s); }

QString separatorName(char separator)
{
    switch (separator) {
    case ';': return QStringLiteral("středník");
    case '\t': return QStringLiteral("tabulátor");
    case ',': return QStringLiteral("čárka");
    default: return QString(QLatin1Char(separator));
    }
}

} // namespace

ImportDialog::ImportDialog(std::unique_ptr<tool::BookFile> file, QWidget *parent)
    : QDialog(parent), file_(std::move(file))
{
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Načtení knih: náhled a sloupce"));
    auto *layout = new QVBoxLayout(this);

    fileLabel_ = new QLabel(QStringLiteral("Soubor: %1").arg(QDir::toNativeSeparators(text(file_->path().string()))));
    fileLabel_->setObjectName(QStringLiteral("fileLabel"));
    layout->addWidget(fileLabel_);
    formatLabel_ = new QLabel(file_->format() == tool::FileFormat::Csv
                                  ? QStringLiteral("Kódování: %1, oddělovač: %2")
                                        .arg(text(file_->encoding()), separatorName(file_->separator()))
                                  : QStringLiteral("Čte se první list sešitu."));
    formatLabel_->setObjectName(QStringLiteral("formatLabel"));
    layout->addWidget(formatLabel_);

    layout->addWidget(new QLabel(QStringLiteral("Sloupce souboru a sloupce katalogu, do kterých půjdou:")));
    const auto &columns = file_->columns();
    mappingTable_ = new QTableWidget(static_cast<int>(columns.size()), 2);
    mappingTable_->setObjectName(QStringLiteral("mappingTable"));
    mappingTable_->setHorizontalHeaderLabels({QStringLiteral("Sloupec souboru"), QStringLiteral("Sloupec katalogu")});
    mappingTable_->verticalHeader()->hide();
    mappingTable_->horizontalHeader()->setStretchLastSection(true);
    mappingTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < mappingTable_->rowCount(); ++row) {
        const tool::FileColumn &column = columns[static_cast<std::size_t>(row)];
        mappingTable_->setItem(row, 0, new QTableWidgetItem(text(column.name)));
        auto *target = new QComboBox;
        target->setObjectName(QStringLiteral("target%1").arg(row));
        target->addItem(QStringLiteral("nepoužít"), -1);
        for (std::size_t i = 0; i < tool::kColumnCount; ++i)
            target->addItem(QString::fromLatin1(tool::kColumns[i].name), static_cast<int>(i));
        target->setCurrentIndex(target->findData(column.target));
        connect(target, &QComboBox::currentIndexChanged, this, guarded([this] { mappingChanged(); }));
        mappingTable_->setCellWidget(row, 1, target);
    }
    mappingTable_->resizeColumnsToContents();
    layout->addWidget(mappingTable_);

    layout->addWidget(new QLabel(QStringLiteral("Prvních %1 řádků tak, jak budou uloženy:").arg(kPreviewRows)));
    previewTable_ = new QTableWidget(0, static_cast<int>(tool::kColumnCount));
    previewTable_->setObjectName(QStringLiteral("previewTable"));
    QStringList headers;
    for (const tool::Column &column : tool::kColumns)
        headers << QString::fromLatin1(column.name);
    previewTable_->setHorizontalHeaderLabels(headers);
    previewTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(previewTable_, 1);

    problemLabel_ = new QLabel;
    problemLabel_->setObjectName(QStringLiteral("problemLabel"));
    problemLabel_->setWordWrap(true);
    problemLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(problemLabel_);

    buttons_ = new QDialogButtonBox;
    QPushButton *import = buttons_->addButton(QStringLiteral("Načíst knihy"), QDialogButtonBox::AcceptRole);
    import->setObjectName(QStringLiteral("importButton"));
    import->setDefault(true);
    buttons_->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons_);

    resize(820, 620);
    showPreview();
}

ImportDialog::~ImportDialog() = default;

void ImportDialog::mappingChanged()
{
    for (int row = 0; row < mappingTable_->rowCount(); ++row) {
        const auto *target = static_cast<QComboBox *>(mappingTable_->cellWidget(row, 1));
        file_->setTarget(static_cast<std::size_t>(row), target->currentData().toInt());
    }
    showPreview();
}

void ImportDialog::showPreview()
{
    const WaitCursor wait(this);
    previewTable_->setRowCount(0);
    QString problem;
    try {
        const std::vector<tool::PreviewRow> rows = file_->preview(kPreviewRows);
        previewTable_->setRowCount(static_cast<int>(rows.size()));
        const auto &columns = file_->columns();
        for (int r = 0; r < previewTable_->rowCount(); ++r) {
            const tool::PreviewRow &row = rows[static_cast<std::size_t>(r)];
            previewTable_->setVerticalHeaderItem(r, new QTableWidgetItem(QString::number(row.line)));
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].target < 0)
                    continue;
                const tool::PreviewCell &cell = row.cells[c];
                auto *item = new QTableWidgetItem(text(cell.text));
                if (cell.refused) {
                    item->setForeground(Qt::red);
                    item->setToolTip(text(cell.text));
                    if (problem.isEmpty())
                        problem = QStringLiteral("Řádek %1: %2").arg(row.line).arg(text(cell.text));
                }
                previewTable_->setItem(r, columns[c].target, item);
            }
        }
    } catch (const std::exception &e) {
        problem = QString::fromUtf8(e.what());
    }
    problemLabel_->setText(problem);
    buttons_->findChild<QPushButton *>(QStringLiteral("importButton"))->setEnabled(
        problem.isEmpty() || previewTable_->rowCount() > 0);
}

} // namespace zeplo::transfer
