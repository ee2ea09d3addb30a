#include "view_filter_bar.h"

#include <QComboBox>
#include <QLineEdit>
#include <QToolBar>

#include "app_settings.h"
#include "job_filter.h"

ViewFilterBar::ViewFilterBar(QToolBar* bar, JobFilterProxy* proxy) : QObject(bar) {
    setObjectName(QStringLiteral("viewFilterBar"));
    bar->addSeparator();
    state_ = new QComboBox(bar);
    state_->setObjectName(QStringLiteral("viewFilter"));
    state_->setToolTip(QStringLiteral("Show only these downloads"));
    for (int i = 0; i < kViewFilterCount; ++i) {
        state_->addItem(QString::fromLatin1(ViewFilterName(static_cast<ViewFilter>(i))));
    }
    text_ = new QLineEdit(bar);
    text_->setObjectName(QStringLiteral("filterText"));
    text_->setPlaceholderText(QStringLiteral("Filter by URL or name"));
    text_->setClearButtonEnabled(true);
    text_->setMaximumWidth(220);
    bar->addWidget(state_);
    bar->addWidget(text_);

    const ViewFilter stored = ViewFilterNamed(viewFilter);
    viewFilter = ViewFilterName(stored);  // a name the file did not hold becomes All
    state_->setCurrentIndex(static_cast<int>(stored));
    proxy->SetStateFilter(stored);
    connect(state_, &QComboBox::currentIndexChanged, this, [proxy](int index) {
        const auto filter = static_cast<ViewFilter>(index < 0 ? 0 : index);
        proxy->SetStateFilter(filter);
        viewFilter = ViewFilterName(filter);
    });
    connect(text_, &QLineEdit::textChanged, proxy, &JobFilterProxy::SetText);
}
