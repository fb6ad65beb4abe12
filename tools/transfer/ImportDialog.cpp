#include "ImportDialog.h"

#include <algorithm>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include "TransferMessages.h"
#include "books/files/ColumnNames.h"
#include "books/files/FieldValues.h"
#include "widgets/WaitCursor.h"

namespace zeplo::transfer {

namespace {

QString text(const std::string &s) { return QString::fromStdString(s); }

// The encodings a Czech user's files come in, by the names ICU knows them.
const char *const kEncodings[] = {"Windows-1250", "UTF-8", "UTF-16LE", "UTF-16BE", "ISO-8859-2", "IBM852"};
const char kSeparators[] = {';', ',', '\t'};
// Mapping rows side by side, so that the nine columns of a catalogue's export show without scrolling.
constexpr int kMappingPairsPerLine = 2;
constexpr int kMappingLabelWidth = 220;

QString separatorName(char separator)
{
    switch (separator) {
    case ';': return QStringLiteral("středník");
    case '\t': return QStringLiteral("tabulátor");
    case ',': return QStringLiteral("čárka");
    default: return QString(QLatin1Char(separator));
    }
}

QString czechName(std::size_t column) { return QString::fromUtf8(tool::czechName(column)); }

// A label that names the control after it, for the eye and for a screen reader.
QLabel *labelFor(const QString &caption, QWidget *control)
{
    auto *label = new QLabel(caption);
    label->setBuddy(control);
    control->setAccessibleName(QString(caption).remove(QLatin1Char(':')));
    return label;
}

} // namespace

ImportDialog::ImportDialog(const std::filesystem::path &file, QWidget *parent) : QDialog(parent), path_(file)
{
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Načtení knih: náhled a sloupce"));
    auto *layout = new QVBoxLayout(this);

    const QString shownPath = QDir::toNativeSeparators(text(file.string()));
    auto *fileLabel = new QLabel;
    fileLabel->setObjectName(QStringLiteral("fileLabel"));
    fileLabel->setText(QStringLiteral("Soubor: %1")
                           .arg(fileLabel->fontMetrics().elidedText(shownPath, Qt::ElideMiddle, 860)));
    fileLabel->setToolTip(shownPath);
    fileLabel->setAccessibleName(QStringLiteral("Soubor: %1").arg(shownPath));
    layout->addWidget(fileLabel);
    formatLabel_ = new QLabel;
    formatLabel_->setObjectName(QStringLiteral("formatLabel"));
    layout->addWidget(formatLabel_);
    if (tool::fileFormatOf(file) == tool::FileFormat::Csv) {
        auto *other = new QHBoxLayout;
        encodingBox_ = new QComboBox;
        encodingBox_->setObjectName(QStringLiteral("encodingBox"));
        for (const char *encoding : kEncodings)
            encodingBox_->addItem(QString::fromLatin1(encoding));
        other->addWidget(labelFor(QStringLiteral("Číst jako:"), encodingBox_));
        other->addWidget(encodingBox_);
        separatorBox_ = new QComboBox;
        separatorBox_->setObjectName(QStringLiteral("separatorBox"));
        for (const char separator : kSeparators)
            separatorBox_->addItem(separatorName(separator), QVariant(int(separator)));
        other->addWidget(labelFor(QStringLiteral("Oddělovač:"), separatorBox_));
        other->addWidget(separatorBox_);
        other->addStretch(1);
        layout->addLayout(other);
    }

    auto *mappingArea = new QScrollArea;
    mappingArea->setObjectName(QStringLiteral("mappingArea"));
    mappingArea->setWidgetResizable(true);
    mappingArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mappingArea->setMaximumHeight(200);
    mapping_ = new QWidget;
    mapping_->setObjectName(QStringLiteral("mapping"));
    mappingGrid_ = new QGridLayout(mapping_);
    for (int pair = 0; pair < kMappingPairsPerLine; ++pair)
        mappingGrid_->setColumnStretch(2 * pair + 1, 1);
    mappingArea->setWidget(mapping_);
    auto *mappingLabel = new QLabel(QStringLiteral("Sloupce souboru a sloupce katalogu, do kterých půjdou:"));
    mappingLabel->setBuddy(mappingArea);
    mappingArea->setAccessibleName(QStringLiteral("Sloupce souboru a sloupce katalogu"));
    layout->addWidget(mappingLabel);
    layout->addWidget(mappingArea);
    unlistedLabel_ = new QLabel;
    unlistedLabel_->setObjectName(QStringLiteral("unlistedLabel"));
    unlistedLabel_->setWordWrap(true);
    unlistedLabel_->hide();
    layout->addWidget(unlistedLabel_);

    previewTable_ = new QTableWidget(0, 0);
    previewTable_->setObjectName(QStringLiteral("previewTable"));
    previewTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    previewTable_->setAccessibleName(QStringLiteral("Náhled knih"));
    auto *previewLabel = new QLabel(QStringLiteral("Prvních %1 knih tak, jak budou uloženy:").arg(kPreviewRows));
    previewLabel->setBuddy(previewTable_);
    layout->addWidget(previewLabel);
    layout->addWidget(previewTable_, 1);

    problemLabel_ = new QLabel;
    problemLabel_->setObjectName(QStringLiteral("problemLabel"));
    problemLabel_->setWordWrap(true);
    problemLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
    problemLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(problemLabel_);

    auto *buttons = new QDialogButtonBox;
    importButton_ = buttons->addButton(QStringLiteral("Načíst knihy"), QDialogButtonBox::AcceptRole);
    importButton_->setObjectName(QStringLiteral("importButton"));
    importButton_->setDefault(true);
    buttons->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // Within a screen of 1024 × 768 with its panels and the window's frame.
    resize(900, 660);

    tool::ReadOptions found;
    found.ignoreUnknown = true; // shown as not used
    if (!encodingBox_) {
        readFile(found); // a workbook that cannot be read fails
    } else {
        try {
            readFile(found);
        } catch (const std::exception &e) {
            showProblem(failureText(e)); // perhaps readable as another encoding
        }
        for (QComboBox *box : {encodingBox_, separatorBox_})
            connect(box, &QComboBox::currentIndexChanged, this, showingFailure(this, [this] { readAnotherWay(); }));
    }
}

ImportDialog::~ImportDialog() = default;

void ImportDialog::readFile(const tool::ReadOptions &options)
{
    const WaitCursor wait(this);
    file_.reset();
    // The drop-downs of the columns as read before go now: only the new ones are there.
    for (QComboBox *box : targets_)
        box->disconnect(this);
    targets_.clear();
    while (QLayoutItem *item = mappingGrid_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    unlistedLabel_->hide();
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
        readFile(options);
    } catch (const std::exception &e) {
        formatLabel_->clear();
        showProblem(failureText(e));
    }
}

void ImportDialog::fillMapping()
{
    const auto &columns = file_->columns();
    const int listed = static_cast<int>(std::min<std::size_t>(columns.size(), kMostListedColumns));
    for (int i = 0; i < listed; ++i) {
        const tool::FileColumn &column = columns[static_cast<std::size_t>(i)];
        const QString name = text(tool::shortened(column.name));
        auto *target = new QComboBox;
        target->setObjectName(QStringLiteral("target%1").arg(i));
        target->addItem(QStringLiteral("nepoužít"), -1);
        for (std::size_t k = 0; k < tool::kColumnCount; ++k)
            target->addItem(czechName(k), static_cast<int>(k));
        target->setCurrentIndex(target->findData(column.target));
        // Read as "Poznámka, nepoužít" by a screen reader: the label it is the
        // buddy of names it (its accessible name, where the platform takes
        // one), its text is the choice.
        const QString named = name.isEmpty() ? QStringLiteral("Sloupec %1 bez názvu").arg(i + 1) : name;
        target->setAccessibleName(named);
        target->setAccessibleDescription(QStringLiteral("Sloupec katalogu pro sloupec souboru %1").arg(named));
        auto *label = new QLabel(named);
        label->setObjectName(QStringLiteral("column%1").arg(i));
        label->setBuddy(target);
        // On one line when it fits, else wrapped within the width of a label.
        label->setWordWrap(true);
        label->setMinimumWidth(std::min(label->fontMetrics().horizontalAdvance(named) + 2, kMappingLabelWidth));
        label->setMaximumWidth(kMappingLabelWidth);
        label->setToolTip(label->text());
        const int line = i / kMappingPairsPerLine, pair = i % kMappingPairsPerLine;
        mappingGrid_->addWidget(label, line, 2 * pair);
        mappingGrid_->addWidget(target, line, 2 * pair + 1);
        connect(target, &QComboBox::currentIndexChanged, this, showingFailure(this, [this, i] { mappingChanged(i); }));
        targets_.push_back(target);
    }
    if (std::size_t(listed) < columns.size()) {
        unlistedLabel_->setText(QStringLiteral("Soubor má ještě dalších %1 sloupců; načtou se podle svých názvů, "
                                               "neznámé se nepoužijí.")
                                    .arg(QLocale(QLocale::Czech).toString(qulonglong(columns.size() - listed))));
        unlistedLabel_->show();
    }
}

void ImportDialog::mappingChanged(int fileColumn)
{
    file_->setTarget(static_cast<std::size_t>(fileColumn), targets_[std::size_t(fileColumn)]->currentData().toInt());
    showPreview();
}

void ImportDialog::showProblem(const QString &problem)
{
    problemLabel_->setText(problem);
    importButton_->setEnabled(file_ && problem.isEmpty());
}

void ImportDialog::showPreview()
{
    const WaitCursor wait(this);
    previewTable_->setRowCount(0);
    // The catalogue's columns, the id only when the file gives ids.
    std::vector<std::size_t> shown;
    for (std::size_t k = file_->hasIds() ? 0 : 1; k < tool::kColumnCount; ++k)
        shown.push_back(k);
    previewTable_->setColumnCount(static_cast<int>(shown.size()));
    QStringList headings;
    for (const std::size_t k : shown)
        headings << czechName(k);
    previewTable_->setHorizontalHeaderLabels(headings);
    try {
        const std::vector<tool::PreviewRow> rows = file_->preview(kPreviewRows);
        previewTable_->setRowCount(static_cast<int>(rows.size()));
        QString refused;
        for (int r = 0; r < previewTable_->rowCount(); ++r) {
            const tool::PreviewRow &row = rows[static_cast<std::size_t>(r)];
            const QString place = QStringLiteral("Kniha %1 (řádek %2 souboru)").arg(r + 1).arg(row.line);
            auto *number = new QTableWidgetItem(QString::number(r + 1));
            number->setToolTip(place);
            number->setData(Qt::AccessibleTextRole, place);
            previewTable_->setVerticalHeaderItem(r, number);
            if (!row.refusal.empty()) {
                number->setForeground(Qt::red);
                if (refused.isEmpty())
                    refused = place + QStringLiteral(": ") + text(row.refusal);
            }
            for (std::size_t c = 0; c < shown.size(); ++c) {
                const tool::PreviewCell &cell = row.cells[shown[c]];
                if (cell.text.empty() && !cell.refused)
                    continue;
                auto *item = new QTableWidgetItem(text(cell.text));
                if (cell.refused) {
                    item->setForeground(Qt::red);
                    item->setToolTip(text(cell.text));
                    if (refused.isEmpty())
                        refused = place + QStringLiteral(": ") + text(cell.text);
                }
                previewTable_->setItem(r, static_cast<int>(c), item);
            }
        }
        // A book that would be refused stops the import before it starts: the
        // user mends the file or the mapping first.
        showProblem(refused.isEmpty() ? QString() : asSentence(refused));
    } catch (const std::exception &e) {
        showProblem(failureText(e));
    }
}

} // namespace zeplo::transfer
