// Where the process may load libraries from. The host restricts the search before the agent
// is loaded: the agent runs as LocalSystem and looks its vendors' management libraries up by
// name, so a DLL planted in the current directory or on PATH must never be found.
#pragma once

// Limits every later library search of the process to the application directory, System32
// and directories added with AddDllDirectory (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS). Where the
// system lacks that call, at least the current directory is dropped from the search. True
// when the full restriction is in force.
bool RestrictLibrarySearch();
