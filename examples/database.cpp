// The database: store geometry in a file, close it, reopen it and re-create every object from its
// identifier alone.
#include <cstdio>
#include <iostream>
#include <string>

#include "qorv/qorv.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "example.qdb";
  std::remove(path.c_str());
  long segment = 0, circle = 0;
  {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (!db->Open(path.c_str(), 0)) return 1;
    ERSegment2D s(ERPoint2D(0, 0), ERPoint2D(10, 5));
    ERCircle3D c(ERPoint3D(10, 20, 30), ERVector3D(0, 0, 1), 12.5);
    segment = db->Store(s);
    circle = db->Store(c);
    db->Close();
  }
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  if (!db->Open(path.c_str(), 1)) return 1;
  for (long id : {segment, circle}) {
    t_SmartPtr<ERObject> object = db->RetrieveAndCreate(id);
    if (!object) return 1;
    std::cout << "object " << id << ", " << object->className() << ":\n";
    object->printOn(std::cout);
    std::cout << "\n";
  }
  db->Close();
  std::remove(path.c_str());
  return 0;
}
