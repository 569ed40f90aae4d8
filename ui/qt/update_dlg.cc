#include "ui/qt/update_dlg.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <cstdint>
#include <utility>

#include "hid/device_match.h"
#include "hid/device_view_backend.h"
#include "protocol/device_probe.h"
#include "protocol/messages.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/failure_advice.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_text.h"

namespace gps {
namespace {

constexpr int kWatchIntervalMs = 500;
const QString kTitle = QStringLiteral("道路安全警示系統更新介面");

// The one local file a drag carries, if it carries exactly that and it is
// not a folder. The path is taken from the URL's own bytes: a name that is
// not UTF-8 (a Big5 name that unzip left from an archive made on Windows)
// would not survive a round trip through QString.
std::optional<std::filesystem::path> DraggedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return std::nullopt;
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return std::nullopt;
  const QByteArray raw = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  const std::filesystem::path file(
      std::string(raw.constData(), static_cast<std::size_t>(raw.size())));
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) return std::nullopt;
  return file;
}

// The file the chooser picked, as the file system names it. The chooser
// shows a name that is not UTF-8 with a replacement character, which names
// no file; the entry of the folder that it stands for is taken instead.
std::filesystem::path ChosenFile(const QString& chosen) {
  const std::filesystem::path direct(QFile::encodeName(chosen).toStdString());
  std::error_code error;
  if (std::filesystem::exists(direct, error)) return direct;
  for (const auto& entry : std::filesystem::directory_iterator(direct.parent_path(), error)) {
    const std::string raw = entry.path().filename().string();
    if (QFile::decodeName(QByteArray(raw.data(), static_cast<qsizetype>(raw.size()))) ==
        QFileInfo(chosen).fileName()) {
      return entry.path();
    }
  }
  return direct;
}

// The interfaces with our vendor and product, from the system's device list:
// nothing is opened.
std::vector<std::string> OurInterfaces(HidBackend& backend) {
  return MatchingInterfaces(backend, HID_VENDOR_ID, HID_PRODUCT_ID);
}

}  // namespace

CUpdateDlg::CUpdateDlg(LinkSettings link, std::filesystem::path file, bool fileGiven,
                       QWidget* parent)
    : QDialog(parent), m_link(link), m_session(std::move(file), fileGiven) {
  m_link.stop = &m_stop;
  setObjectName("update_dialog");
  setWindowTitle(kTitle);
  // The program's only window: a taskbar entry and a minimise box of its
  // own, fixed in size.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(DluSize(LAYOUT_UPDATE_DIALOG));

  // Made in tab order: "取消" first, so that it has the focus at start and
  // Enter closes the program.
  m_cancel = new QPushButton(QStringLiteral("取消"), this);
  m_cancel->setObjectName("cancel");
  m_cancel->setGeometry(DluRect(LAYOUT_CANCEL));
  m_cancel->setDefault(true);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::accept);

  m_picture = new QLabel(this);
  m_picture->setObjectName("picture");
  const QPixmap background(QStringLiteral(":/background.bmp"));
  m_picture->setPixmap(background);
  m_picture->setGeometry(QRect(DluRect(LAYOUT_PICTURE).topLeft(), background.size()));

  m_progress = new QProgressBar(this);
  m_progress->setObjectName("progress");
  m_progress->setGeometry(DluRect(LAYOUT_PROGRESS));

  m_update = new QPushButton(QStringLiteral("更新"), this);
  m_update->setObjectName("update");
  m_update->setGeometry(DluRect(LAYOUT_UPDATE));
  connect(m_update, &QPushButton::clicked, this, &CUpdateDlg::OnUpdate);

  m_status = new QLabel(this);
  m_status->setObjectName("status");
  m_status->setTextFormat(Qt::PlainText);
  m_status->setGeometry(DluRect(LAYOUT_STATUS));

  m_progressLine = new QLabel(this);
  m_progressLine->setObjectName("progress_line");
  m_progressLine->setTextFormat(Qt::PlainText);
  m_progressLine->setGeometry(DluRect(LAYOUT_PROGRESS_LINE));

  setAcceptDrops(true);
  setTabOrder(m_cancel, m_update);
  m_cancel->setFocus();

  m_reporter = std::make_unique<DialogReporter>(
      *m_status, *m_progress,
      [this](const QString& text, std::function<void()> closed) {
        PresentMessage(text, std::move(closed));
      });

  // Any text of the update ends the following of the device: the update's
  // last message stays.
  connect(m_reporter.get(), &DialogReporter::StatusShown, this, [this](const QString& text) {
    m_session.UpdateTextShown();
    m_jobProgress.OnStatus(text.toStdString(), UpdateProgress::Clock::now());
    ShowProgressLine();
  });
  connect(m_reporter.get(), &DialogReporter::RangeShown, this,
          [this](uint32_t upper) { m_jobProgress.OnRange(upper); });
  connect(m_progress, &QProgressBar::valueChanged, this, [this](int value) {
    if (!m_jobProgress.Running()) return;
    m_jobProgress.OnPosition(static_cast<uint32_t>(value), UpdateProgress::Clock::now());
    ShowProgressLine();
  });
  m_tick.setInterval(1000);
  connect(&m_tick, &QTimer::timeout, this, &CUpdateDlg::ShowProgressLine);
  ShowProgressLine();

  // The list first, then the probe: a device that arrives in between is
  // then seen as a change at the next look.
  m_present = OurInterfaces(m_link.backend ? *m_link.backend : PlatformHidBackend());
  // The probe opens the device and closes it again before the dialog shows.
  Probe();
  m_watch.setInterval(kWatchIntervalMs);
  connect(&m_watch, &QTimer::timeout, this, &CUpdateDlg::OnWatch);
  m_watch.start();
}

void CUpdateDlg::Probe() {
  const ProbeResult probe = ProbeDevice(m_link);
  m_status->setText(QString::fromStdString(text::DeviceStatusText(probe.text, m_present.size())));
  m_session.ProbeShown(probe.outcome);
}

void CUpdateDlg::OnWatch() {
  // Nothing of this may touch the device while the update has it.
  if (!m_session.FollowsDevice()) return;
  std::vector<std::string> present =
      OurInterfaces(m_link.backend ? *m_link.backend : PlatformHidBackend());
  const bool changed = present != m_present;
  m_present = std::move(present);
  const auto now = UpdateSession::Clock::now();
  if (changed ? m_session.DeviceListChanged(now) : m_session.ProbeAgain(now)) Probe();
  emit DeviceListLooked();
}

CUpdateDlg::~CUpdateDlg() {
  if (m_confirm) delete m_confirm.data();
  if (m_worker) {
    // The worker may be waiting on a request that will never be served now.
    m_reporter->Detach();
    m_stop.Set();
    m_worker->wait();
    delete m_worker;
  }
}

void CUpdateDlg::OnUpdate() {
  // One update at a time, and the device is the worker's while it runs.
  if (!m_session.MayStartUpdate()) return;
  // As the command-line program does, a look at the device first: with none
  // there the user is told so, nothing is sent, and "更新" stays usable.
  switch (m_session.UpdatePressed(ProbeDevice(m_link).outcome)) {
    case UpdateSession::StartAction::Nothing:
      return;
    case UpdateSession::StartAction::NoDevice:
      m_status->setStyleSheet({});
      m_status->setText(FromUtf8(text::kDeviceConnectFailed));
      return;
    case UpdateSession::StartAction::AskAboutCopy:
      AskAboutCopy();
      return;
    case UpdateSession::StartAction::Start:
      StartUpdate();
      return;
  }
}

void CUpdateDlg::AskAboutCopy() {
  const ImageChoice image = m_session.Offered();
  auto* box = new QMessageBox(QMessageBox::Question, QApplication::applicationName(),
                              FromUtf8(OfferQuestion(image)), QMessageBox::NoButton, this);
  box->setTextFormat(Qt::PlainText);  // names are the file system's, not markup
  box->setObjectName("offer_question");
  QPushButton* take = box->addButton(FromUtf8(text::kUseThisFile), QMessageBox::AcceptRole);
  QPushButton* keep = nullptr;
  if (image.found) {
    keep = box->addButton(FromUtf8(text::kUseFilePrefix) + FromUtf8(DisplayName(image.file)),
                          QMessageBox::AcceptRole);
  }
  QPushButton* cancel = box->addButton(FromUtf8(text::kCancel), QMessageBox::RejectRole);
  box->setDefaultButton(take);
  box->setEscapeButton(cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this, box, take, keep] {
    const QAbstractButton* clicked = box->clickedButton();
    const auto answer = clicked == take   ? UpdateSession::CopyAnswer::TakeCopy
                        : keep && clicked == keep ? UpdateSession::CopyAnswer::KeepFile
                                                  : UpdateSession::CopyAnswer::Cancel;
    const bool start = m_session.CopyAnswered(answer);
    ShowProgressLine();
    if (start) StartUpdate();
  });
  box->open();
}

void CUpdateDlg::StartUpdate() {
  m_session.UpdateStarted();
  m_status->setStyleSheet({});
  m_writing = m_session.File();
  const std::optional<ImageFile> image = InspectImage(m_writing);
  m_jobProgress.Begin(image ? image->size : 0, UpdateProgress::Clock::now());
  // A laptop that sleeps halfway leaves the device without a database.
  m_awake = SleepInhibitor::Acquire(kKeepAwakeReason);
  m_tick.start();
  m_update->setEnabled(false);
  m_watch.stop();
  m_stop.Reset();  // a stop meant for an earlier update is void
  m_outcome = std::make_shared<UpdateOutcome>(UpdateOutcome::Succeeded);
  // The worker gets the reporter and copies of what it needs, never the
  // dialog itself.
  m_worker = QThread::create(
      [reporter = m_reporter.get(), link = m_link, file = m_writing, outcome = m_outcome]() mutable {
        // The job keeps to the first device attached when it starts, even
        // if others come and go meanwhile.
        std::optional<DeviceViewBackend> pinned =
            FirstDeviceView(link.backend ? *link.backend : PlatformHidBackend());
        if (pinned) link.backend = &*pinned;
        UpdateJob job(*reporter, link);
        *outcome = job.LoadAndUpdate(file);
      });
  connect(m_worker, &QThread::finished, this, &CUpdateDlg::OnWorkerFinished);
  m_worker->start();
}

void CUpdateDlg::OnWorkerFinished() {
  if (!m_worker) return;
  m_worker->wait();
  delete m_worker;
  m_worker = nullptr;
  m_jobProgress.End(UpdateProgress::Clock::now());
  m_awake.reset();
  m_tick.stop();
  ShowProgressLine();
  // After a failure the bar stays where the update got to; it empties only
  // after a success.
  if (*m_outcome != UpdateOutcome::Succeeded && m_jobProgress.DeviceTouched()) {
    m_progress->setRange(0, static_cast<int>(m_jobProgress.BarRange()));
    m_progress->setValue(static_cast<int>(m_jobProgress.BarPosition()));
  }
  const UpdateSession::AfterUpdate after = m_session.UpdateEnded();
  m_update->setEnabled(after != UpdateSession::AfterUpdate::Close);
  if (after == UpdateSession::AfterUpdate::WithdrawQuestion && m_confirm) {
    // The update is over: the question about stopping it goes, unanswered.
    QMessageBox* box = m_confirm;
    m_confirm = nullptr;
    disconnect(box, &QMessageBox::finished, this, nullptr);
    box->close();
  }
  // An update that set no text (a missing file) leaves the probe's text, and
  // the device is followed again.
  if (m_session.FollowsDevice()) m_watch.start();
  if (after != UpdateSession::AfterUpdate::Close) ShowFailure(*m_outcome);
  emit UpdateFinished(*m_outcome);
  if (after == UpdateSession::AfterUpdate::Close) {
    // The stop the user asked for has its own last word, unless the update
    // was complete when it came (the restart goes all the same).
    if (*m_outcome != UpdateOutcome::Succeeded) m_status->setText(FromUtf8(text::kUpdateStopped));
    QDialog::done(m_session.CloseCode());
  }
}

void CUpdateDlg::done(int result) {
  switch (m_session.CloseRequested()) {
    case UpdateSession::CloseAction::Close:
      QDialog::done(result);
      return;
    case UpdateSession::CloseAction::Ignore:  // already asked, or already stopping
      return;
    case UpdateSession::CloseAction::Ask:
      break;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(),
                              FromUtf8(text::kConfirmClose), QMessageBox::NoButton, this);
  box->setTextFormat(Qt::PlainText);  // as every box: no text here is markup
  box->setObjectName("confirm_close");
  QPushButton* stop = box->addButton(FromUtf8(text::kStopUpdate), QMessageBox::DestructiveRole);
  QPushButton* keep = box->addButton(FromUtf8(text::kKeepUpdating), QMessageBox::RejectRole);
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this, box, stop, result] {
    m_confirm = nullptr;  // the box goes later; the question is answered now
    switch (m_session.CloseAnswered(box->clickedButton() == stop, result)) {
      case UpdateSession::AnswerAction::Close:
        QDialog::done(result);
        break;
      case UpdateSession::AnswerAction::StopUpdate:
        StopToClose();
        break;
      case UpdateSession::AnswerAction::KeepRunning:
        break;
    }
  });
  m_confirm = box;
  box->open();
}

void CUpdateDlg::Terminate() {
  // A close question still open is answered for the user: stop.
  const bool asked = m_confirm != nullptr;
  if (asked) {
    QMessageBox* box = m_confirm;
    m_confirm = nullptr;
    disconnect(box, &QMessageBox::finished, this, nullptr);
    box->close();
  }
  if (!m_worker) {
    QDialog::done(QDialog::Rejected);
    return;
  }
  if (!asked && m_session.CloseRequested() != UpdateSession::CloseAction::Ask) return;
  switch (m_session.CloseAnswered(true, QDialog::Rejected)) {
    case UpdateSession::AnswerAction::StopUpdate:
      StopToClose();
      break;
    case UpdateSession::AnswerAction::Close:
      QDialog::done(QDialog::Rejected);
      break;
    case UpdateSession::AnswerAction::KeepRunning:
      break;
  }
}

void CUpdateDlg::StopToClose() {
  m_update->setEnabled(false);
  m_cancel->setEnabled(false);
  // The transfer under way ends at once and the job stops with its failure
  // texts; OnWorkerFinished then closes the dialog.
  m_stop.Set();
}

void CUpdateDlg::PresentMessage(const QString& text, std::function<void()> closed) {
  // A user who has chosen to close is not kept by a message of the update
  // being stopped.
  if (!m_session.ShowsMessages()) {
    closed();
    return;
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationName(), text,
                              QMessageBox::NoButton, this);
  box->setTextFormat(Qt::PlainText);  // names are the file system's, not markup
  box->setObjectName("message");
  box->setDefaultButton(box->addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, m_reporter.get(), [closed = std::move(closed)] {
    closed();
  });
  box->open();
}

void CUpdateDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Window managers give applications no system menu to add to, so the
  // About entry lives here.
  auto* menu = new QMenu(this);
  menu->setObjectName("context_menu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* choose = menu->addAction(FromUtf8(text::kChooseFile));
  choose->setObjectName("choose_file");
  choose->setEnabled(m_session.MayStartUpdate());
  connect(choose, &QAction::triggered, this, &CUpdateDlg::OnChooseFile);
  QAction* about = menu->addAction(QStringLiteral("關於 Update(&A)..."));
  connect(about, &QAction::triggered, this, &CUpdateDlg::OnAbout);
  menu->popup(event->globalPos());
}

void CUpdateDlg::OnChooseFile() {
  const std::filesystem::path& current = m_session.File();
  const QString folder =
      current.has_parent_path() ? FromPath(current.parent_path()) : QDir::currentPath();
  auto* chooser = new QFileDialog(this, FromUtf8(text::kChooseFile), folder,
                                  FromUtf8(text::kImageFilesFilter) + QStringLiteral(";;") +
                                      FromUtf8(text::kAllFilesFilter));
  chooser->setObjectName("file_dialog");
  chooser->setFileMode(QFileDialog::ExistingFile);
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  connect(chooser, &QFileDialog::fileSelected, this,
          [this](const QString& file) { FileChosen(ChosenFile(file)); });
  chooser->open();
}

void CUpdateDlg::FileChosen(const std::filesystem::path& file) {
  if (!m_session.FileChosen(file)) return;
  // The line tells of the new file, no longer of the last update.
  m_jobProgress = UpdateProgress();
  ShowProgressLine();
}

void CUpdateDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (m_session.MayStartUpdate() && DraggedFile(event->mimeData())) event->acceptProposedAction();
}

void CUpdateDlg::dropEvent(QDropEvent* event) {
  const std::optional<std::filesystem::path> file = DraggedFile(event->mimeData());
  if (!file) return;
  event->acceptProposedAction();
  FileChosen(*file);
}

void CUpdateDlg::OnAbout() {
  // A fresh box each time; the main dialog stays blocked while it is open,
  // and the worker's requests go on being served behind it.
  auto* about = new CAboutDlg(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

void CUpdateDlg::ShowProgressLine() {
  const auto now = UpdateProgress::Clock::now();
  if (m_jobProgress.Running()) {
    const std::string line = m_jobProgress.Line(now);
    m_progressLine->setText(line.empty() ? FromUtf8(text::kDoNotUnplug)
                                         : FromUtf8(line) + QStringLiteral("　") +
                                               FromUtf8(text::kDoNotUnplug));
    setWindowTitle(line.empty() ? kTitle
                                : QStringLiteral("%1% - %2").arg(m_jobProgress.Percent()).arg(kTitle));
    return;
  }
  setWindowTitle(kTitle);
  const std::string end = m_jobProgress.EndLine();
  m_progressLine->setText(end.empty() ? FromUtf8(FileLine(m_session.Image())) : FromUtf8(end));
}

void CUpdateDlg::ShowFailure(UpdateOutcome outcome) {
  const JobEnd end = EndOfJob(outcome, m_jobProgress.DeviceTouched(), m_writing);
  if (!EndsInFailureText(end)) return;
  // The platform's own colour for a warning would be lost on some styles:
  // a plain dark red reads as one on every one.
  m_status->setStyleSheet(QStringLiteral("color: #b00020;"));
  const std::string advice = Advice(end, FrontEnd::Dialog);
  if (advice.empty()) return;
  auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(),
                              FromUtf8(advice), QMessageBox::Ok, this);
  box->setTextFormat(Qt::PlainText);  // names are the file system's, not markup
  box->setObjectName("failure_advice");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace gps
