// The print preview's report files: saved and loaded through its dialogs,
// and a bad file refused with the preview left as it was.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <functional>
#include <memory>

#include "ModalAnswerer.h"
#include "PreviewDriver.h"
#include "report/PageStore.h"
#include "report/PaperSizes.h"
#include "widgets/ErrorGuard.h"
#include "widgets/PreviewSheet.h"
#include "widgets/QtTranslations.h"
#include "widgets/ReportPreview.h"

using namespace zeplo;

namespace {

// Runs `open`, which opens a file dialog, and answers the dialog with
// `answer`, then OK. Anything else that comes up fails the test at once and is
// closed, so that nothing waits for the suite's time limit.
void answerFileDialog(const std::function<void()> &open, const std::function<void(QFileDialog &)> &answer)
{
    bool answered = false;
    QTimer::singleShot(0, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            ADD_FAILURE() << "no file dialog came up"
                          << (modal ? " but " + modal->windowTitle().toStdString() : std::string());
            if (modal)
                modal->close();
            return;
        }
        answer(*dialog);
        answered = true;
        static_cast<QDialog *>(dialog)->accept();
    });
    open();
    EXPECT_TRUE(answered);
}

} // namespace

// ---- saving and loading ---------------------------------------------------

TEST(PreviewFiles, SavedReportLoadsWithTheSamePages)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("kniha.QRP"));
    auto original = finishedStore(4);
    {
        ReportPreview p;
        p.setStore(original);
        p.saveToFile(file);
    }
    ASSERT_TRUE(QFile::exists(file));

    ShownPreview shown;
    ReportPreview &p = shown.preview;
    bool discarded = false;
    ReportPreview::Host host;
    host.discardingStore = [&] { discarded = true; };
    p.setHost(host);
    p.loadFromFile(file);
    EXPECT_TRUE(discarded);
    ASSERT_TRUE(p.store());
    EXPECT_TRUE(p.store()->loaded());
    EXPECT_EQ(p.store()->pageCount(), 4);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(p.store()->page(n), original->page(n)) << n;
    EXPECT_EQ(p.currentPage(), 1);
    EXPECT_TRUE(p.pageShown());
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 4"));
    EXPECT_FALSE(child<QAction>(p, "PrinterSetup")->isEnabled());
    EXPECT_TRUE(child<QAction>(p, "Print")->isEnabled());
    EXPECT_TRUE(p.loadedPaper().recognised);
    EXPECT_EQ(p.loadedPaper().orientation, QPageLayout::Portrait);
    // A4 Small is tried after A4 and has the same measure, so it wins.
    EXPECT_EQ(p.loadedPaper().size.id(), pageSizeFor(PaperSize::A4Small).id());
    EXPECT_NEAR(p.paperMm().width(), 210, 0.01);
    EXPECT_NEAR(p.paperMm().height(), 297, 0.01);

    // Saved again, the loaded report is the very same file.
    const QString again = dir.filePath(QStringLiteral("znovu.QRP"));
    p.saveToFile(again);
    const auto bytes = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    ASSERT_FALSE(bytes(file).isEmpty());
    EXPECT_EQ(bytes(again), bytes(file));
}

TEST(PreviewFiles, UnfinishedStoreWritesNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("x.QRP"));
    auto store = std::make_shared<PageStore>();
    store->begin();
    store->appendPage(a4Page(QStringLiteral("1")));
    ReportPreview p;
    p.setStore(store);
    p.saveToFile(file);
    EXPECT_FALSE(QFile::exists(file));
}

TEST(PreviewFiles, OlderShorterHeaderLoads)
{
    // The same file with a 124-byte header: every offset four bytes less.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("new.QRP"));
    auto original = finishedStore(2);
    ASSERT_TRUE(original->saveToFile(file));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QByteArray old = bytes.left(124) + bytes.mid(128);
    qint64 off = 124;
    for (int n = 0; n < 2; ++n) {
        const quint32 next = qFromLittleEndian<quint32>(old.constData() + off + 4) - 4;
        qToLittleEndian<quint32>(next, old.data() + off + 4);
        qToLittleEndian<quint32>(quint32(off), old.data() + next - 4);
        off = next;
    }
    ASSERT_EQ(off, old.size());
    const QString oldFile = dir.filePath(QStringLiteral("old.QRP"));
    QFile out(oldFile);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(old);
    out.close();

    ReportPreview p;
    p.loadFromFile(oldFile);
    ASSERT_TRUE(p.store());
    EXPECT_EQ(p.store()->pageCount(), 2);
    EXPECT_EQ(p.store()->page(2), original->page(2));
    EXPECT_EQ(child<QLabel>(p, "PagePanel")->text(), QStringLiteral("Page 1 of 2"));
}

TEST(PreviewFiles, BadFilesLeaveThePreviewAsItWas)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.QRP"));
    ASSERT_TRUE(finishedStore(3)->saveToFile(good));
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    QByteArray random(5000, '\0');
    quint32 seed = 12345;
    for (char &c : random) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    random[25] = 0; // not claiming compression
    const QList<QPair<QString, QByteArray>> bad = {
        {QStringLiteral("truncated.QRP"), bytes.left(bytes.size() - 300)},
        {QStringLiteral("random.QRP"), random},
        {QStringLiteral("short.QRP"), bytes.left(60)},
        {QStringLiteral("empty.QRP"), QByteArray()},
    };

    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(2);
    shown.load(mine);
    p.nextPage();
    bool discarded = false;
    ReportPreview::Host host;
    host.discardingStore = [&] { discarded = true; };
    p.setHost(host);
    for (const auto &[name, content] : bad) {
        const QString path = dir.filePath(name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        ModalAnswerer answerer;
        child<QAction>(p, "LoadReport")->setEnabled(true);
        // Through the guard that every handler runs in.
        runGuarded([&] { p.loadFromFile(path); });
        ASSERT_EQ(answerer.count(), 1) << name.toStdString();
        EXPECT_FALSE(answerer.texts.first().isEmpty());
        EXPECT_NE(answerer.texts.first(), QStringLiteral("File does not exist")) << name.toStdString();
        EXPECT_EQ(p.store(), mine) << name.toStdString();
        EXPECT_EQ(p.currentPage(), 2);
        EXPECT_EQ(child<PreviewSheet>(p, "Sheet")->picture(), mine->page(2));
        EXPECT_FALSE(discarded);
        EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
    }
}

TEST(PreviewFiles, MissingFileSaysSoAndChangesNothing)
{
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(1);
    shown.load(mine);
    ModalAnswerer answerer;
    runGuarded([&] { p.loadFromFile(QDir::temp().filePath(QStringLiteral("no-such-report-h7.QRP"))); });
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.texts.first(), QStringLiteral("File does not exist"));
    EXPECT_EQ(p.store(), mine);
    EXPECT_TRUE(child<QAction>(p, "PrinterSetup")->isEnabled());
}

// In both languages: on a Czech desktop (LANG=cs_CZ.UTF-8, which the test sets
// as the default locale, as Qt's system locale cannot change within a process)
// the dialogs speak Czech around the program's own titles and filters.
class PreviewFileDialogs : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
            ASSERT_TRUE(loadQtTranslations(QLocale()));
        }
    }
    void TearDown() override
    {
        unloadQtTranslations();
        QLocale::setDefault(QLocale::c());
    }
};

INSTANTIATE_TEST_SUITE_P(, PreviewFileDialogs, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "Czech" : "English"; });

TEST_P(PreviewFileDialogs, AskWithTheirTitlesAndFilters)
{
    QTemporaryDir dir;
    ShownPreview shown;
    ReportPreview &p = shown.preview;
    auto mine = finishedStore(2);
    shown.load(mine);

    // The save dialog: the name typed without its extension gets ".QRP".
    QString title, filter, suffix, saveButton;
    answerFileDialog([&] { child<QAction>(p, "SaveReport")->trigger(); }, [&](QFileDialog &d) {
        title = d.windowTitle();
        filter = d.nameFilters().join(QLatin1Char(';'));
        suffix = d.defaultSuffix();
        if (auto *box = d.findChild<QDialogButtonBox *>())
            if (QAbstractButton *save = box->button(QDialogButtonBox::Save))
                saveButton = save->text();
        d.setDirectory(dir.path());
        d.selectFile(QStringLiteral("ulozeno"));
    });
    EXPECT_EQ(title, QStringLiteral("Save report"));
    EXPECT_EQ(filter, QStringLiteral("Pagolin file(*.QRP)"));
    EXPECT_EQ(saveButton, GetParam() ? QStringLiteral("&Uložit") : QStringLiteral("&Save"));
    EXPECT_EQ(suffix, QStringLiteral("QRP"));
    const QString saved = dir.filePath(QStringLiteral("ulozeno.QRP"));
    ASSERT_TRUE(QFile::exists(saved));

    answerFileDialog([&] { child<QAction>(p, "LoadReport")->trigger(); }, [&](QFileDialog &d) {
        title = d.windowTitle();
        filter = d.nameFilters().join(QLatin1Char(';'));
        d.setDirectory(dir.path());
        d.selectFile(saved);
    });
    EXPECT_EQ(title, QStringLiteral("Load report"));
    EXPECT_EQ(filter, QStringLiteral("Pagolin file (*.QRP)"));
    ASSERT_TRUE(p.store());
    EXPECT_TRUE(p.store()->loaded());
    EXPECT_EQ(p.store()->page(2), mine->page(2));
}
