#include "qorv/persistence/object_database.h"

#include "platform/file.h"

namespace {
ERObjectDataBase* g_currentDataBase = nullptr;
}  // namespace

ERObjectDataBase* ERObjectDataBase::current() { return g_currentDataBase; }
void ERObjectDataBase::setCurrent(ERObjectDataBase* db) { g_currentDataBase = db; }

ERObjectDataBase::ERObjectDataBase() = default;

ERObjectDataBase::~ERObjectDataBase() {
  if (g_currentDataBase == this) g_currentDataBase = nullptr;
}

// Until the file-backed store exists, a database never opens and refuses every write with the
// file exception, which the object operations turn into a 0 result.
int ERObjectDataBase::Open(const char*, int) { return 0; }
void ERObjectDataBase::Close() {}
long ERObjectDataBase::Store(ERObject&) { AfxThrowFileException(CFileException::invalidFile); }
int ERObjectDataBase::Retrieve(long, ERObject&) { return 0; }
t_SmartPtr<ERObject> ERObjectDataBase::RetrieveAndCreate(long) { return {}; }
int ERObjectDataBase::Delete(long) { return 0; }
void ERObjectDataBase::summarize(std::ostream&) {}
