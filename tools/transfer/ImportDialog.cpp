#include "ImportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
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

// The encodings a Czech user's files come in, by the names ICU knows them.
const char *const kEncodings[] = {"Windows-1250", "UTF-8", "UTF-16LE", "UTF-16BE", "ISO-8859-2", "IBM852"};
const char kSeparators[] = {';', ',', '\t'};

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

ImportDialog::ImportDialog(const std::filesystem::path &file, QWidget *parent) : QDialog(parent), path_(file)
{
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Načtení knih: náhled a sloupce"));
    auto *layout = new QVBoxLayout(this);

    auto *fileLabel = new QLabel(QStringLiteral("Soubor: %1").arg(QDir::toNativeSeparators(text(file.string()))));
    fileLabel->setObjectName(QStringLiteral("fileLabel"));
    layout->addWidget(fileLabel);
    formatLabel_ = new QLabel;
    formatLabel_->setObjectName(QStringLiteral("formatLabel"));
    layout->addWidget(formatLabel_);
    if (tool::fileFormatOf(file) == tool::FileFormat::Csv) {
        auto *other = new QHBoxLayout;
        other->addWidget(new QLabel(QStringLiteral("Číst jako:")));
        encodingBox_ = new QComboBox;
        encodingBox_->setObjectName(QStringLiteral("encodingBox"));
        for (const char *encoding : kEncodings)
            encodingBox_->addItem(QString::fromLatin1(encoding));
        other->addWidget(encodingBox_);
        other->addWidget(new QLabel(QStringLiteral("oddělovač:")));
        separatorBox_ = new QComboBox;
        separatorBox_->setObjectName(QStringLiteral("separatorBox"));
        for (const char separator : kSeparators)
            separatorBox_->addItem(separatorName(separator), QVariant(int(separator)));
        other->addWidget(separatorBox_);
        other->addStretch(1);
        layout->addLayout(other);
    }

    layout->addWidget(new QLabel(QStringLiteral("Sloupce souboru a sloupce katalogu, do kterých půjdou:")));
    mappingTable_ = new QTableWidget(0, 2);
    mappingTable_->setObjectName(QStringLiteral("mappingTable"));
    mappingTable_->setHorizontalHeaderLabels({QStringLiteral("Sloupec souboru"), QStringLiteral("Sloupec katalogu")});
    mappingTable_->verticalHeader()->hide();
    mappingTable_->horizontalHeader()->setStretchLastSection(true);
    mappingTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
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
    resize(820, 640);

    tool::ReadOptions found;
    found.ignoreUnknown = true; // shown as not used
    if (!encodingBox_) {
        open(found); // a workbook that cannot be read fails
    } else {
        try {
            open(found);
        } catch (const std::exception &e) {
            showProblem(QString::fromUtf8(e.what())); // perhaps readable as another encoding
        }
        for (QComboBox *box : {encodingBox_, separatorBox_})
            connect(box, &QComboBox::currentIndexChanged, this, guarded([this] { readAnotherWay(); }));
    }
}

ImportDialog::~ImportDialog() = default;

void ImportDialog::open(const tool::ReadOptions &options)
{
    const WaitCursor wait(this);
    file_.reset();
    // The boxes of the columns as read before go now, not later: only the new ones are there.
    for (int row = 0; row < mappingTable_->rowCount(); ++row) {
        QWidget *box = mappingTable_->cellWidget(row, 1);
        mappingTable_->removeCellWidget(row, 1);
        delete box;
    }
    mappingTable_->setRowCount(0);
    previewTable_->setRowCount(0);
    file_ = std::make_unique<tool::BookFile>(path_, options);
    if (file_->format() == tool::FileFormat::Csv) {
        formatLabel_->setText(QStringLiteral("Kódování: %1, oddělovač: %2")
                                  .arg(text(file_->encoding()), separatorName(file_->separator())));
        const QSignalBlocker quiet(encodingBox_), quieter(separatorBox_);
        if (encodingBox_->findText(text(file_->encoding())) < 0)
            encodingBox_->addItem(text(file_->encoding()));
        encodingBox_->setCurrentText(text(file_->encoding()));
        separatorBox_->setCurrentIndex(separatorBox_->findData(int(file_->separator())));
    } else {
        formatLabel_->setText(QStringLiteral("Čte se první list sešitu."));
    }
    fillMapping();
    showPreview();
}

void ImportDialog::readAnotherWay()
{
    tool::ReadOptions options;
    options.ignoreUnknown = true;
    options.encoding = encodingBox_->currentText().toStdString();
    options.separator = static_cast<char>(separatorBox_->currentData().toInt());
    try {
        open(options);
    } catch (const std::exception &e) {
        formatLabel_->clear();
        showProblem(QString::fromUtf8(e.what()));
    }
}

void ImportDialog::fillMapping()
{
    const auto &columns = file_->columns();
    mappingTable_->setRowCount(static_cast<int>(columns.size()));
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
}

void ImportDialog::mappingChanged()
{
    for (int row = 0; row < mappingTable_->rowCount(); ++row) {
        const auto *target = static_cast<QComboBox *>(mappingTable_->cellWidget(row, 1));
        file_->setTarget(static_cast<std::size_t>(row), target->currentData().toInt());
    }
    showPreview();
}

void ImportDialog::showProblem(const QString &problem)
{
    problemLabel_->setText(problem);
    buttons_->findChild<QPushButton *>(QStringLiteral("importButton"))->setEnabled(file_ && problem.isEmpty());
}

void ImportDialog::showPreview()
{
    const WaitCursor wait(this);
    previewTable_->setRowCount(0);
    try {
        const std::vector<tool::PreviewRow> rows = file_->preview(kPreviewRows);
        previewTable_->setRowCount(static_cast<int>(rows.size()));
        const auto &columns = file_->columns();
        QString refused;
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
                    if (refused.isEmpty())
                        refused = QStringLiteral("Řádek %1: %2").arg(row.line).arg(text(cell.text));
                }
                previewTable_->setItem(r, columns[c].target, item);
            }
        }
        // A refused value is only shown: the import names it with its line and stores nothing.
        showProblem(QString());
        problemLabel_->setText(refused);
    } catch (const std::exception &e) {
        showProblem(QString::fromUtf8(e.what()));
    }
}

} // namespace zeplo::transfer
