// The OpenCASCADE headers qorv::step compiles against, precompiled once.
#pragma once

#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <STEPControl_Reader.hxx>
#include <TopExp.hxx>
#include <TopoDS.hxx>
