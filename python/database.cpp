// The object database from Python: open or create a file, store surfaces and curves, re-create
// objects by identifier or in identifier order, transactions and the integrity check.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>

#include "python/module.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/describe.h"

using qorv::platform::CFileException;

namespace qorv::python {
namespace {

constexpr long kLastId = 2147483647L;

class Database {
 public:
  Database(const std::string& path, const std::string& mode) : path_(path) {
    if (mode != "r" && mode != "w")
      throw std::invalid_argument("mode must be 'r' (read) or 'w' (read and write)");
    const bool readOnly = mode == "r";
    if (readOnly || std::filesystem::exists(path)) {
      const std::string why = qorv::tool::whyNotADatabase(path);
      if (!why.empty() && !(!readOnly && std::filesystem::is_regular_file(path) &&
                            std::filesystem::file_size(path) == 0))
        throw OsError(path + ": " + why);
    }
    db_ = new ERObjectDataBase;
    try {
      if (!db_->Open(path.c_str(), readOnly ? 1 : 0))
        throw OsError(path +
                      ": damaged qorv database (its header or trees cannot be read), or one of a "
                      "newer version");
    } catch (const CFileException& e) {
      throw OsError(path + ": " + e.describe());
    }
  }
  ~Database() { close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void close() {
    if (db_ && db_->isOpen()) db_->Close();
  }
  ERObjectDataBase& open() {
    if (!db_ || !db_->isOpen()) throw std::invalid_argument(path_ + ": the database is closed");
    return *db_;
  }

  long store(ERObject& o) {
    try {
      return open().Store(o);
    } catch (const CFileException& e) {
      throw OsError(path_ + ": the object was not stored: " + e.describe());
    }
  }
  py::object retrieve(long long id) {
    if (id < 1 || id > kLastId) throw std::invalid_argument("identifiers run from 1 to 2147483647");
    t_SmartPtr<ERObject> o;
    try {
      o = open().RetrieveAndCreate(static_cast<long>(id));
    } catch (const CFileException& e) {
      throw OsError(path_ + ": " + e.describe());
    }
    if (!o) return py::none();
    return py::cast(StoredObject{o, static_cast<long>(id)});
  }
  std::vector<long> ids() {
    std::vector<long> all;
    open().forEachObject([&](long id, long) { all.push_back(id); });
    std::sort(all.begin(), all.end());
    return all;
  }
  std::vector<std::string> check() { return open().check(); }
  const std::string& path() const { return path_; }
  ERObjectDataBase& db() { return open(); }

 private:
  std::string path_;
  t_SmartPtr<ERObjectDataBase> db_;
};

py::object namedValues(const StoredObject& s) {
  const nlohmann::json j = qorv::tool::describeValues(*s.o);
  return py::module_::import("json").attr("loads")(j.dump());
}

}  // namespace

void bindDatabase(py::module_& m) {
  py::class_<StoredObject>(m, "StoredObject", "An object re-created from a database.")
      .def_property_readonly(
          "id", [](const StoredObject& s) { return s.id; }, "Its identifier.")
      .def_property_readonly(
          "class_name", [](const StoredObject& s) { return std::string(s.o->className()); },
          "The kernel's class name.")
      .def_property_readonly("values", &namedValues,
                             "Its named values (as qorv db show --format json gives them).")
      .def(
          "surface",
          [](const StoredObject& s) -> py::object {
            if (auto* b = dynamic_cast<ERAnyBoundedSurface*>(s.o.get()))
              return py::cast(Surface{t_SmartPtr<ERAnyBoundedSurface>(b)});
            return py::none();
          },
          "The object as a Surface when it is a bounded surface, else None.")
      .def(
          "curve",
          [](const StoredObject& s) -> py::object {
            if (auto* c = dynamic_cast<ERFiniteEntity3DWF*>(s.o.get()))
              if (auto n = c->ConvertToNurbs())
                if (auto* k = dynamic_cast<ERCpoleNURBS3D*>(n.get()))
                  return py::cast(Curve<3>{t_SmartPtr<ERCpoleNURBS3D>(k)});
            return py::none();
          },
          "The object as a Curve (its NURBS form) when it is a curve of space, else None.")
      .def(
          "__repr__", [](const StoredObject& s) { return printForm(*s.o); }, "The print form.");

  py::class_<Database>(
      m, "Database",
      "A qorv database file. mode 'r' opens an existing file read-only; 'w' opens it for "
      "writing, creating it when missing. Every store is its own transaction unless "
      "begin()/commit() group them. Use it as a context manager to close it.")
      .def(py::init<const std::string&, const std::string&>(), py::arg("path"),
           py::arg("mode") = "r",
           "Opens path; OSError with the reason when it is not a readable qorv database.")
      .def(
          "store", [](Database& d, Surface& s) { return d.store(*s.s); }, py::arg("object"),
          "Stores a surface; its new identifier.")
      .def(
          "store", [](Database& d, Curve<3>& c) { return d.store(*c.c); }, py::arg("object"),
          "Stores a curve (its NURBS form); its new identifier.")
      .def(
          "store", [](Database& d, Curve<2>& c) { return d.store(*c.c); }, py::arg("object"),
          "Stores a plane curve (its NURBS form); its new identifier.")
      .def(
          "store", [](Database& d, StoredObject& o) { return d.store(*o.o); }, py::arg("object"),
          "Stores an object read from a database; its new identifier here.")
      .def("retrieve", &Database::retrieve, py::arg("id"),
           "The object of that identifier, None when there is none or it cannot be re-created.")
      .def(
          "__getitem__",
          [](Database& d, long long id) {
            py::object o = d.retrieve(id);
            if (o.is_none()) throw py::key_error("no object " + std::to_string(id));
            return o;
          },
          py::arg("id"), "The object of that identifier (KeyError when none).")
      .def(
          "delete",
          [](Database& d, long long id) {
            if (id < 1 || id > kLastId)
              throw std::invalid_argument("identifiers run from 1 to 2147483647");
            return d.db().Delete(static_cast<long>(id)) != 0;
          },
          py::arg("id"), "Deletes the object; False when there was none.")
      .def("ids", &Database::ids, "Every identifier, in increasing order.")
      .def("__len__", [](Database& d) { return d.ids().size(); }, "The number of stored objects.")
      .def(
          "__contains__",
          [](Database& d, const py::object& id) {
            if (!py::isinstance<py::int_>(id)) return false;
            const long long v = id.cast<long long>();
            if (v < 1 || v > kLastId) return false;
            for (long k : d.ids())
              if (k == v) return true;
            return false;
          },
          py::arg("id"), "Whether an object of that identifier is stored.")
      .def(
          "__iter__",
          [](Database& d) {
            py::list all;
            for (long id : d.ids()) all.append(d.retrieve(id));
            return py::iter(all);
          },
          "The objects in identifier order (None for one that cannot be re-created).")
      .def("check", &Database::check,
           "The integrity check: one line per problem, empty when sound.")
      .def(
          "begin", [](Database& d) { return d.db().begin() != 0; }, "Begins a transaction.")
      .def(
          "commit",
          [](Database& d) {
            try {
              return d.db().commit() != 0;
            } catch (const CFileException& e) {
              throw OsError(d.path() + ": the transaction was rolled back: " + e.describe());
            }
          },
          "Commits the transaction.")
      .def(
          "rollback", [](Database& d) { return d.db().rollback() != 0; }, "Drops the transaction.")
      .def("close", &Database::close, "Closes the file (an open transaction is rolled back).")
      .def_property_readonly("path", &Database::path, "The file's path.")
      .def(
          "__enter__", [](Database& d) -> Database& { return d; },
          py::return_value_policy::reference, "The database itself.")
      .def("__exit__",
           [](Database& d, const py::object&, const py::object&, const py::object&) { d.close(); },
           "Closes the file.");
}

}  // namespace qorv::python
