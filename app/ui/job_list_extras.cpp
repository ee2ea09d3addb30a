#include "job_list_extras.h"

#include <QTreeView>

#include "job_view.h"
#include "speed_tips.h"
#include "status_delegate.h"

void InstallJobListExtras(QTreeView* list, JobTableModel* model) {
    if (list != nullptr && model != nullptr) {
        list->setItemDelegateForColumn(kStatusColumn, new StatusDelegate(list));
        auto* tips = new SpeedTips(
            list, [list](const QModelIndex& index) { return JobOfIndex(list, index); });
        // Every refresh of a row feeds its job's meter and renews a tip being shown.
        model->speedText = [tips](const DownloadJob* job) {
            tips->Sample(job);
            tips->RefreshShownTip(job);
            return tips->ShortTextFor(job);
        };
    }
}
