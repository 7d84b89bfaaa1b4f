#include "app/PeloDlg.h"

#include "app/AboutDlg.h"
#include "app/DataExchange.h"
#include "app/DetailSetDlg.h"
#include "app/DialogUnits.h"
#include "app/MessageBoxes.h"
#include "app/PeloApp.h"
#include "app/Resources.h"
#include "image/Allocation.h"
#include "pipeline/BatchFiles.h"
#include "pipeline/BatchRunner.h"
#include "pipeline/FileKinds.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <exception>
#include <new>

namespace pelo {

namespace {

constexpr int kListEntryRole = Qt::UserRole;

QString ListDisplayText(const std::string& entry) {
    return QString::fromLocal8Bit(entry);
}

} // namespace

CPeloDlg::CPeloDlg(CPeloApp& app, std::function<CodecFormats()> codec, QWidget* parent)
    : QDialog(parent), app_(app), codec_(std::move(codec)), sink_(this) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QStringLiteral("Pelo -アンチエイリアジング-"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    LoadResources();
    setWindowIcon(QIcon(QStringLiteral(":/pelo/pelo.png")));
    BuildControls();
}

CPeloDlg::~CPeloDlg() = default;

void CPeloDlg::BuildControls() {
    setFont(MainDialogFont());
    const DialogBaseUnits du = BaseUnitsFor(font());
    setFixedSize(DialogSize(du, 190, 229));
    auto place = [&](QWidget* w, int l, int t, int wd, int ht) {
        w->setGeometry(DialogRect(du, l, t, wd, ht));
    };
    auto label = [&](const char* text, int l, int t, int wd, int ht) {
        auto* w = new QLabel(QString::fromUtf8(text), this);
        place(w, l, t, wd, ht);
    };
    auto group = [&](const char* text, int l, int t, int wd, int ht) {
        auto* w = new QGroupBox(QString::fromUtf8(text), this);
        // The caption sits on the frame's top line, as the template draws it.
        const int half = w->fontMetrics().height() / 2;
        w->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); "
                                        "border-radius: 2px; margin-top: %1px; }"
                                        "QGroupBox::title { subcontrol-origin: margin; "
                                        "left: 6px; padding: 0 2px; }")
                             .arg(half));
        place(w, l, t, wd, ht);
    };
    auto button = [&](int id, const char* text, int l, int t, int wd, int ht) {
        auto* w = new QPushButton(QString::fromUtf8(text), this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht);
        return w;
    };
    auto edit = [&](int id, int l, int t, int wd, int ht) {
        auto* w = new QLineEdit(this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht);
        return w;
    };
    auto combo = [&](int id, int l, int t, int wd, int dropHeight) {
        auto* w = new QComboBox(this);
        w->setObjectName(QString::number(id));
        w->setEditable(true);
        w->setInsertPolicy(QComboBox::NoInsert);
        place(w, l, t, wd, 12);
        // The template's height is that of the open list.
        const int itemHeight = std::max(1, w->fontMetrics().height() + 2);
        w->setMaxVisibleItems(std::max(1, DialogUnitsToPixelsY(du, dropHeight - 12) / itemHeight));
        return w;
    };
    auto check = [&](int id, const char* text, int l, int t, int wd, int ht) {
        auto* w = new QCheckBox(QString::fromUtf8(text), this);
        w->setObjectName(QString::number(id));
        place(w, l, t, wd, ht);
        return w;
    };

    group("入力", 7, 9, 176, 76);
    inputFolderEdit_ = edit(1008, 11, 18, 134, 12);
    QPushButton* browseInput = button(1002, "指定", 149, 17, 32, 13);
    label("形式", 13, 36, 15, 8);
    inputTypes_ = combo(1007, 30, 34, 38, 211);
    whiteBox_ = check(1010, "白を透明扱い", 79, 34, 52, 13);
    recursiveBox_ = check(1011, "再起検索", 135, 34, 41, 13);
    fileList_ = new QListWidget(this);
    fileList_->setObjectName(QStringLiteral("1001"));
    fileList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    place(fileList_, 12, 52, 165, 29);

    group("設定", 7, 88, 176, 36);
    label("検出(1-255)", 13, 97, 38, 8);
    thresholdEdit_ = edit(1009, 13, 109, 21, 12);
    QPushButton* detail = button(4, "詳細設定", 104, 97, 35, 21);
    button(3, "プレビュー", 141, 97, 35, 21); // no function yet

    group("出力", 7, 127, 177, 47);
    outputFolderEdit_ = edit(1005, 12, 139, 135, 12);
    QPushButton* browseOutput = button(1004, "指定", 150, 139, 32, 13);
    label("形式", 10, 157, 15, 8);
    outputTypes_ = combo(1006, 27, 155, 38, 119);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("1000"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    place(progress_, 7, 180, 176, 14);

    QPushButton* run = button(1, "実行", 7, 198, 50, 24);
    QPushButton* quit = button(2, "終了", 133, 200, 50, 22);
    run->setDefault(true);

    connect(browseOutput, &QPushButton::clicked, this, &CPeloDlg::OnBrowseOutput);
    connect(browseInput, &QPushButton::clicked, this, &CPeloDlg::OnBrowseInput);
    connect(inputTypes_, &QComboBox::activated, this, [this](int) { RebuildFileList(); });
    thresholdEdit_->installEventFilter(this);
    connect(detail, &QPushButton::clicked, this, &CPeloDlg::OnDetailSettings);
    connect(run, &QPushButton::clicked, this, &CPeloDlg::accept);
    connect(quit, &QPushButton::clicked, this, &CPeloDlg::reject);
}

bool CPeloDlg::eventFilter(QObject* watched, QEvent* event) {
    // The threshold is read back when its edit loses the focus to another
    // control; a window switch (a message box opening) is not such a move.
    if (watched == thresholdEdit_ && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            UpdateData(true);
    }
    return QDialog::eventFilter(watched, event);
}

int CPeloDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CPeloDlg::OnInitDialog() {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* about = new QAction(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Pelo) (&A)..."), this);
    about->setObjectName(QStringLiteral("16"));
    connect(about, &QAction::triggered, this, &CPeloDlg::OnAbout);
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    UseUserDefaultLocale();
    FillFormatLists();

    LoadSettings(app_.profile(), state_);
    auto select = [](QComboBox* list, int index) {
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    };
    select(inputTypes_, state_.inputTypeIndex);
    select(outputTypes_, state_.outputTypeIndex);

    UpdateData(false);
    RebuildFileList();
    UpdateData(false);
}

void CPeloDlg::FillFormatLists() {
    const CodecFormats codec = codec_();
    if (!codec.started) ShowMessageBox(this, QStringLiteral("cannot use GDI+ runtime"));
    const FormatLists lists = BuildFormatLists(codec);
    for (const std::string& pattern : lists.input)
        inputTypes_->addItem(QString::fromStdString(pattern));
    for (const std::string& pattern : lists.output)
        outputTypes_->addItem(QString::fromStdString(pattern));
}

bool CPeloDlg::UpdateData(bool saveAndValidate) {
    DataExchange dx(this, saveAndValidate);
    dx.Text(outputFolderEdit_, state_.outputFolder);
    dx.Text(inputFolderEdit_, state_.inputFolder);
    dx.Text(thresholdEdit_, state_.settings.detectThreshold);
    dx.Check(whiteBox_, state_.settings.whiteAsTransparent);
    dx.Check(recursiveBox_, state_.recursiveSearch);
    return dx.ok();
}

std::string CPeloDlg::SelectedPattern(const QComboBox* list) const {
    const int index = list->currentIndex();
    return index < 0 ? std::string() : list->itemText(index).toStdString();
}

void CPeloDlg::AddListEntry(const std::string& entry) {
    auto* item = new QListWidgetItem(ListDisplayText(entry));
    item->setData(kListEntryRole, QByteArray::fromStdString(entry));
    fileList_->addItem(item);
}

std::string CPeloDlg::ListEntry(int row) const {
    return fileList_->item(row)->data(kListEntryRole).toByteArray().toStdString();
}

void CPeloDlg::RebuildFileList() {
    fileList_->clear();
    const std::string pattern = SelectedPattern(inputTypes_);
    state_.recursiveSearch = recursiveBox_->isChecked() ? 1u : 0u;
    // Without a selected format there is nothing to match.
    if (!pattern.empty()) {
        std::vector<std::string> entries;
        if (state_.recursiveSearch)
            CollectFilesRecursive(state_.inputFolder, pattern.substr(1), entries);
        else
            ListFolder(state_.inputFolder, pattern, entries);
        SortFileList(entries);
        for (const std::string& entry : entries)
            AddListEntry(entry);
    }
    UpdateData(false);
}

void CPeloDlg::accept() {
    BatchRun();
}

namespace {

// Moves the bar as files end and gathers what failed, for the box after
// "完了".
class DialogRunObserver : public BatchObserver {
public:
    DialogRunObserver(CPeloDlg& dialog, QProgressBar& progress, std::size_t skipped)
        : dialog_(dialog), progress_(progress), done_(static_cast<int>(skipped)) {}

    void FileFinished(std::size_t, const BatchEntry& entry, const Status& status) override {
        // Entries left by a stopped run move the bar only when it fills at
        // the end; the entry whose error stopped it has its own box.
        if (status.code == StatusCode::Stopped || status.code == StatusCode::Aborted) return;
        if (!status.ok()) {
            failures_ += QString::fromStdString(std::string(FileName(entry.input))) + ": " +
                         QString::fromStdString(status.reason) + "\n";
            ++failed_;
        }
        progress_.setValue(++done_);
        progress_.repaint(); // the run holds the event loop; show the step now
        dialog_.UpdateData(false);
    }

    void RunAborted(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            ShowMessageBox(&dialog_, QStringLiteral("メモリが不足しています。"),
                           QMessageBox::Warning);
        } catch (const std::exception& e) {
            ShowMessageBox(&dialog_, QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
        } catch (...) {
            ShowMessageBox(&dialog_, QStringLiteral("不明なエラーが発生しました。"),
                           QMessageBox::Warning);
        }
    }

    int failed() const { return failed_; }
    const QString& failures() const { return failures_; }

private:
    CPeloDlg& dialog_;
    QProgressBar& progress_;
    int done_;
    int failed_ = 0;
    QString failures_;
};

} // namespace

void CPeloDlg::BatchRun() {
    UpdateData(true);
    const int count = fileList_->count();
    progress_->setRange(0, count);
    progress_->setValue(0);
    UpdateData(false);

    // A format typed by hand names no output, and a sub-folder of the list
    // is no file: such entries are passed over.
    std::vector<BatchEntry> entries;
    const std::string pattern = SelectedPattern(outputTypes_);
    for (int i = 0; i < count && !pattern.empty(); ++i) {
        const std::string entry = ListEntry(i);
        if (IsFolderEntry(state_.inputFolder, entry)) continue;
        entries.push_back({FormInputPath(state_.inputFolder, entry),
                           FormOutputPath(state_.outputFolder, entry, pattern)});
    }

    SetMaxPicturePixels(state_.maxPicturePixels);
    BatchOptions options;
    options.settings = state_.settings;
    options.memoryBudget = std::size_t{state_.maxRunMemoryMib} << 20;
    options.sink = &sink_;
    options.session = &session_;
    if (runEntry_)
        options.process = [this](ConversionSession&, bool layered, const std::string& in,
                                 const std::string& out) {
            runEntry_(layered, in, out);
            return Status{};
        };
    // Replacing inputs needs a word from the user; No runs nothing.
    if (const std::size_t replaced = PlanBatch(entries, false).wouldReplace; replaced > 0) {
        const QString question =
            QStringLiteral(
                "出力先が入力元と同じため、%1 個の入力ファイルが変換結果で置き換えられます。"
                "置き換えますか？")
                .arg(replaced);
        if (!AskYesNo(this, question)) {
            progress_->setValue(0);
            UpdateData(false);
            return;
        }
        options.inPlace = true;
    }

    DialogRunObserver observer(*this, *progress_, static_cast<std::size_t>(count) - entries.size());
    RunBatch(entries, options, observer);

    progress_->setValue(count);
    progress_->repaint();
    UpdateData(false);
    ShowMessageBox(this, QStringLiteral("完了"), QMessageBox::Warning);
    if (observer.failed() > 0)
        ShowMessageBox(
            this,
            QStringLiteral("%1 個のファイルを変換できませんでした。\n\n").arg(observer.failed()) +
                observer.failures(),
            QMessageBox::Warning);
    progress_->setValue(0);
    UpdateData(false);
}

bool CPeloDlg::ChooseFolder(QWidget* owner, std::string& folder, const QString& title,
                            const std::string& initial) {
    QFileDialog dialog(owner, title, QString::fromLocal8Bit(initial));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList picked = dialog.selectedFiles();
    if (picked.isEmpty()) return false;
    folder = picked.front().toLocal8Bit().toStdString();
    return true;
}

void CPeloDlg::OnBrowseInput() {
    std::string picked;
    if (!chooseFolder_(this, picked, QStringLiteral("画像ﾌｧｲﾙ入力元ﾌｫﾙﾀﾞｰを指定して下さい"),
                       state_.inputFolder))
        return;
    state_.inputFolder = picked;
    RebuildFileList();
}

void CPeloDlg::OnBrowseOutput() {
    std::string picked;
    const std::string& initial =
        state_.outputFolder.empty() ? state_.inputFolder : state_.outputFolder;
    if (!chooseFolder_(this, picked, QStringLiteral("画像ﾌｧｲﾙ出力先ﾌｫﾙﾀﾞｰを指定して下さい"),
                       initial))
        return;
    state_.outputFolder = picked;
    UpdateData(false);
}

void CPeloDlg::OnDetailSettings() {
    CDetailSetDlg dialog(this);
    dialog.CopyFrom(state_.settings);
    if (dialog.DoModal() == 1) dialog.CopyTo(state_.settings);
}

void CPeloDlg::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CPeloDlg::reject() {
    UpdateData(true);
    SaveTypeIndices(app_.profile(), outputTypes_->currentIndex(), inputTypes_->currentIndex());
    done(2);
}

} // namespace pelo
