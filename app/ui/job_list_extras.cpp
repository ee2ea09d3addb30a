#include "job_list_extras.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVariant>

#include "download_job.h"
#include "job_view.h"
#include "main_window.h"
#include "speed_tips.h"
#include "status_delegate.h"
#include "url_drop.h"

void InstallJobListExtras(MainWindow* window) {
    QTreeWidget* list = window->jobView();
    if (list != nullptr) {
        list->setItemDelegateForColumn(kStatusColumn, new StatusDelegate(list));
        new SpeedTips(list);
    }
    new UrlDrop(window);
}

void NoteJobProgress(QTreeWidgetItem* item, const DownloadJob* job) {
    const double fraction = ProgressFraction(*job);
    item->setData(kStatusColumn, kProgressRole, fraction >= 0 ? QVariant(fraction) : QVariant());
    if (SpeedTips* tips = SpeedTips::Of(item->treeWidget())) {
        tips->Sample(job);
        tips->RefreshShownTip(job);
    }
}

QString JobSpeedText(QTreeWidgetItem* item, const DownloadJob* job) {
    SpeedTips* tips = SpeedTips::Of(item->treeWidget());
    return tips != nullptr ? tips->ShortTextFor(job) : QString();
}
