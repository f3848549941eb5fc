// Plugins: outside components loaded from the site's plug-in folder.
//
// A plug-in is a shared library (*.so) in SITE/plugins (SITE being
// QUILLON_SITE). It links against libquillon_platform (and libquillon for
// the published plug-in contracts) and exports two C functions:
//
//   extern "C" int  quillon_plugin_abi(void);       // returns QUILLON_PLUGIN_ABI
//   extern "C" void quillon_plugin_register(void);  // registers its classes
//
// quillon_plugin_register adds each class with ClassBuilder under its
// programmatic id ("Acme.Orders", …), exactly as the component's own
// classes register; the component then creates the plug-in's objects by
// that id and calls their methods by name, or through the contracts
// IMethodCall / IMethodCall24 when the class derives from them.
//
// Loading happens on demand: when the registry is asked for an id that no
// class has, every library of the folder not loaded yet is opened once for
// the life of the process. Loading is guarded by a mutex; a library that
// fails (missing symbols, another ABI) is remembered with its reason and
// not tried again.
#pragma once

#include <string>

// 2: methods carry their directions and types (ParamInfo, MethodInfo).
#define QUILLON_PLUGIN_ABI 2

namespace quillon::Plugins {

// The plug-in folder of the current site ("" without a site).
std::string Folder();
// Loads the libraries of Folder() not loaded before; returns "" or the
// reasons of the libraries that could not be loaded, joined by "; ".
std::string LoadSitePlugins();

}  // namespace quillon::Plugins
