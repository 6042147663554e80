// The dashboard's frame: the sidebar and the page stack, the history, dictionary,
// feedback and account pages, and the refresh of every page from the store; the overview
// and settings pages live in mirla_dashboard_overview.cpp and mirla_dashboard_settings.cpp.
#include "ui/mirla_dashboard_window.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/log.h"
#include "learning/mirla_data_store.h"
#include "ui/dashboard_text.h"
#include "ui/mirla_account_client.h"
#include "ui/mirla_dashboard_widgets.h"
#include "ui/mirla_update_checker.h"

namespace sorvane {

using dashboard::header;
using dashboard::plain;
using dashboard::qs;
using dashboard::readOnlyView;

namespace {

// What the history and feedback views show; the store reads up to 2000 for the figures.
constexpr std::size_t kShownRecords = 200;

}  // namespace

// --- window ---

MirlaDashboardWindow::MirlaDashboardWindow(DashboardServices services)
    : QWidget(nullptr), services_(std::move(services)) {
  setWindowTitle(qs(kDashboardWindowTitle));
  setObjectName(QStringLiteral("sorvane-dashboard"));
  resize(920, 640);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* sidebar = new QFrame(this);
  sidebar->setObjectName(QStringLiteral("sidebar"));
  sidebar->setFixedWidth(168);
  sidebar->setAutoFillBackground(true);
  QPalette sidePalette = sidebar->palette();
  sidePalette.setColor(QPalette::Window, palette().color(QPalette::AlternateBase));
  sidebar->setPalette(sidePalette);
  auto* sideLayout = new QVBoxLayout(sidebar);
  sideLayout->setContentsMargins(12, 18, 12, 18);
  sideLayout->setSpacing(4);
  sideLayout->addWidget(plain(QStringLiteral("Mirla"), sidebar, 22, true));
  sideLayout->addSpacing(10);
  sidebar_ = new QButtonGroup(this);
  sidebar_->setExclusive(true);
  const char* titles[kDashboardSectionCount] = {"概览", "历史", "词典", "反馈", "账号", "设置"};
  for (int i = 0; i < kDashboardSectionCount; ++i) {
    auto* button = new QPushButton(QString::fromUtf8(titles[i]), sidebar);
    button->setCheckable(true);
    button->setFlat(true);
    button->setMinimumHeight(34);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { text-align: left; padding: 6px 12px; border-radius: 8px; }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); }"));
    sidebar_->addButton(button, i);
    sideLayout->addWidget(button);
  }
  sideLayout->addStretch(1);
  // Without a tray host these are the only way to cancel a turn or quit.
  menuActions_ = new QWidget(sidebar);
  auto* actionsLayout = new QVBoxLayout(menuActions_);
  actionsLayout->setContentsMargins(0, 0, 0, 0);
  actionsLayout->setSpacing(4);
  for (std::size_t i = 0; i < kDashboardMenuSlots.size(); ++i) {
    auto* button = new QPushButton(menuActions_);
    button->setObjectName(QStringLiteral("menu-action-%1").arg(static_cast<int>(kDashboardMenuSlots[i])));
    menuButtons_[i] = button;
    actionsLayout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, this, [this, i] {
      if (services_.perform && menuButtonActions_[i] != MenuAction::none) services_.perform(menuButtonActions_[i]);
    });
  }
  sideLayout->addWidget(menuActions_);
  menuActions_->setVisible(services_.showMenuActions);
  applyMenu(buildStatusMenu(StatusMenuState{}));
  layout->addWidget(sidebar);

  pages_ = new QStackedWidget(this);
  pages_->addWidget(buildOverview());
  pages_->addWidget(buildTextSection(QStringLiteral("历史记录"), history_));
  pages_->addWidget(buildDictionary());
  pages_->addWidget(buildTextSection(QStringLiteral("反馈样本"), feedback_));
  pages_->addWidget(buildAccount());
  pages_->addWidget(buildSettings());
  layout->addWidget(pages_, 1);

  QObject::connect(sidebar_, &QButtonGroup::idClicked, this,
                   [this](int id) { showSection(static_cast<MirlaDashboardSection>(id)); });
  showSection(MirlaDashboardSection::overview);
  // Ctrl+W closes the window (it only hides: the app keeps running in the tray).
  auto* close = new QShortcut(QKeySequence::Close, this);
  QObject::connect(close, &QShortcut::activated, this, [this] { hide(); });
}

MirlaDashboardWindow::~MirlaDashboardWindow() = default;

void MirlaDashboardWindow::applyMenu(const StatusMenuModel& model) {
  for (std::size_t i = 0; i < kDashboardMenuSlots.size(); ++i) {
    const MenuEntry& entry = model.entry(kDashboardMenuSlots[i]);
    menuButtons_[i]->setText(QString::fromStdString(entry.title));
    menuButtons_[i]->setVisible(entry.visible);
    menuButtons_[i]->setEnabled(entry.enabled);
    menuButtonActions_[i] = entry.action;
  }
}

QPushButton* MirlaDashboardWindow::menuActionButton(MenuSlot slot) const {
  for (std::size_t i = 0; i < kDashboardMenuSlots.size(); ++i) {
    if (kDashboardMenuSlots[i] == slot) return menuButtons_[i];
  }
  return nullptr;
}

void MirlaDashboardWindow::refreshIfShown() {
  // Each refresh reads up to 2,000 history lines: a hidden window waits until it is shown.
  if (!isVisible()) {
    stale_ = true;
    return;
  }
  refresh();
}

void MirlaDashboardWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (stale_) refresh();
}

QWidget* MirlaDashboardWindow::buildTextSection(const QString& title, QPlainTextEdit*& view) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(title, page));
  view = readOnlyView(page);
  layout->addWidget(view, 1);
  return page;
}

QWidget* MirlaDashboardWindow::buildDictionary() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(QStringLiteral("个人词典"), page));
  auto* row = new QHBoxLayout();
  dictionaryInput_ = new QLineEdit(page);
  dictionaryInput_->setPlaceholderText(QStringLiteral("输入一个专有名词或术语"));
  dictionaryAdd_ = new QPushButton(QStringLiteral("加入词典"), page);
  row->addWidget(dictionaryInput_, 1);
  row->addWidget(dictionaryAdd_);
  layout->addLayout(row);
  dictionaryStatus_ = plain(QString(), page, 12);
  layout->addWidget(dictionaryStatus_);
  dictionary_ = readOnlyView(page);
  layout->addWidget(dictionary_, 1);
  QObject::connect(dictionaryAdd_, &QPushButton::clicked, this, [this] { addDictionaryTermPressed(); });
  QObject::connect(dictionaryInput_, &QLineEdit::returnPressed, this, [this] { addDictionaryTermPressed(); });
  return page;
}

QWidget* MirlaDashboardWindow::buildAccount() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  layout->addWidget(header(QStringLiteral("账号"), page));
  auto* form = new QFormLayout();
  email_ = new QLineEdit(page);
  email_->setPlaceholderText(QStringLiteral("name@example.com"));
  password_ = new QLineEdit(page);
  password_->setEchoMode(QLineEdit::Password);
  password_->setPlaceholderText(QStringLiteral("至少 8 位"));
  form->addRow(QStringLiteral("邮箱"), email_);
  form->addRow(QStringLiteral("密码"), password_);
  layout->addLayout(form);
  auto* buttons = new QHBoxLayout();
  signIn_ = new QPushButton(QStringLiteral("登录"), page);
  signIn_->setObjectName(QStringLiteral("signin"));
  signUp_ = new QPushButton(QStringLiteral("注册"), page);
  signUp_->setObjectName(QStringLiteral("signup"));
  google_ = new QPushButton(QStringLiteral("使用 Google 继续"), page);
  website_ = new QPushButton(QStringLiteral("打开 Mirla 网站"), page);
  for (QPushButton* button : {signIn_, signUp_, google_, website_}) buttons->addWidget(button);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  const bool configured = services_.account.isConfigured();
  accountStatus_ = plain(qs(configured ? kAccountInitialStatus : kAccountNotConfiguredStatus), page, 12);
  layout->addWidget(accountStatus_);
  layout->addStretch(1);
  for (QPushButton* button : {signIn_, signUp_, google_, website_}) button->setEnabled(configured);
  QObject::connect(signIn_, &QPushButton::clicked, this, [this] { accountActionPressed(false); });
  QObject::connect(signUp_, &QPushButton::clicked, this, [this] { accountActionPressed(true); });
  QObject::connect(google_, &QPushButton::clicked, this, [this] { openGoogleSignIn(); });
  QObject::connect(website_, &QPushButton::clicked, this, [this] { openMirlaWebsite(); });
  return page;
}

void MirlaDashboardWindow::showSection(MirlaDashboardSection section) {
  selected_ = section;
  const int index = static_cast<int>(section);
  pages_->setCurrentIndex(index);
  if (auto* button = sidebar_->button(index)) button->setChecked(true);
  if (section == MirlaDashboardSection::settings) refreshSettings();
}

void MirlaDashboardWindow::showWindowAndRefresh() {
  stale_ = false;  // refreshed below, once
  show();
  raise();
  activateWindow();
  refresh();
  if (services_.updateChecker) services_.updateChecker->checkAndNotifyIfNeeded();
  appLog(std::string("dashboard shown visible=") + (isVisible() ? "true" : "false"));
}

void MirlaDashboardWindow::refresh() {
  stale_ = false;
  const MirlaDashboardStats stats = services_.store.dashboardStats();
  metricValues_[0]->setText(QString::fromStdString(formatDurationMs(stats.todayRecordingMs)));
  metricValues_[1]->setText(QString::fromStdString(formatCount(stats.todayChars)));
  metricValues_[2]->setText(QString::fromStdString(formatDurationMs(stats.todaySavedMs)));
  metricDetails_[0]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatDurationMs(stats.totalRecordingMs)) +
                             QStringLiteral(" · ") + QString::number(stats.turnCount) + QStringLiteral(" 次"));
  metricDetails_[1]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatCount(stats.totalChars)) +
                             QStringLiteral(" 字 · 词典 ") + QString::number(stats.dictionaryCount));
  metricDetails_[2]->setText(QStringLiteral("累计 ") + QString::fromStdString(formatDurationMs(stats.estimatedSavedMs)) +
                             QStringLiteral(" · 反馈 ") + QString::number(stats.feedbackCount));
  chart_->setPoints(stats.dailyChars);
  const auto history = services_.store.recentHistory(kShownRecords);
  const auto feedback = services_.store.feedbackEntries(kShownRecords);
  const auto terms = services_.store.dictionaryTerms();
  history_->setPlainText(QString::fromStdString(historySectionText(history, feedback)));
  feedback_->setPlainText(QString::fromStdString(feedbackSectionText(feedback)));
  dictionary_->setPlainText(QString::fromStdString(dictionarySectionText(terms)));
  refreshSettings();
}

void MirlaDashboardWindow::addDictionaryTermPressed() {
  const std::string term = dictionaryInput_->text().trimmed().toStdString();
  if (term.empty()) {
    dictionaryStatus_->setText(qs(kDictionaryNeedsTermStatus));
    return;
  }
  auto added = services_.store.addDictionaryTerm(term, MirlaDataStore::kManualSource, std::string(kManualTermReason));
  if (!added) {
    dictionaryStatus_->setText(qs(kDictionaryRejectedStatus));
    return;
  }
  dictionaryInput_->clear();
  dictionaryStatus_->setText(QString::fromStdString(dictionaryAddedStatus(added->term)));
  refresh();
}

void MirlaDashboardWindow::accountActionPressed(bool signUp) {
  std::weak_ptr<char> weak = alive_;
  services_.account.submit(signUp ? AccountAction::signUp : AccountAction::signIn, email_->text().toStdString(),
                           password_->text().toStdString(), [this, weak](std::string status) {
                             if (!weak.lock()) return;
                             accountStatus_->setText(QString::fromStdString(status));
                           });
}

void MirlaDashboardWindow::openGoogleSignIn() {
  const std::string url = services_.account.googleSignInURL();
  if (!url.empty() && isOpenableDownloadURL(url) && services_.openURL) services_.openURL(url);
}

void MirlaDashboardWindow::openMirlaWebsite() {
  const std::string& url = services_.account.websiteURL();
  if (!url.empty() && isOpenableDownloadURL(url) && services_.openURL) services_.openURL(url);
}

QString MirlaDashboardWindow::sectionText(MirlaDashboardSection section) const {
  switch (section) {
    case MirlaDashboardSection::history:
      return history_->toPlainText();
    case MirlaDashboardSection::dictionary:
      return dictionary_->toPlainText();
    case MirlaDashboardSection::feedback:
      return feedback_->toPlainText();
    case MirlaDashboardSection::account:
      return accountStatus_->text();
    case MirlaDashboardSection::settings:
      return providerSummary_->text();
    case MirlaDashboardSection::overview:
      break;
  }
  return metricValues_[0]->text();
}

}  // namespace sorvane
