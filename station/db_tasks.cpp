#include "station/db_tasks.h"

#include <memory>

#include "os/host.h"

DbAnswer RunDbTask(const DbTask& task) {
  DbAnswer answer;
  const MissingDatabase missing = task.action == DbAction::kInit ? MissingDatabase::kCreate : MissingDatabase::kRefuse;
  const std::unique_ptr<SerialStore> store = OpenDatabaseStore(task.target, answer.error, {}, missing);
  if (!store) return answer;
  answer.kind = store->Kind();
  switch (task.action) {
    case DbAction::kInit: break;
    case DbAction::kPending: answer.error = store->Pending(answer.allocations); break;
    case DbAction::kRelease:
      answer.releasedBy = task.operatorName.empty() ? UserName() : task.operatorName;
      answer.error = store->Release(task.serial, answer.releasedBy, answer.released);
      break;
    case DbAction::kReport: answer.error = store->Report(task.filter, answer.runs); break;
    case DbAction::kFind: answer.error = store->Find(task.serial, answer.allocations, answer.runs); break;
    case DbAction::kImportState: answer.error = store->ImportState(task.stateFile); break;
  }
  return answer;
}
