// The module's run-time and edit-data exports as the test host calls them.
#pragma once
#include "runtime/exports.h"

struct ModuleApi {
    decltype(&::Initialize) Initialize;
    decltype(&::Free) Free;
    decltype(&::GetInfos) GetInfos;
    decltype(&::GetRunObjectInfos) GetRunObjectInfos;
    decltype(&::GetRunObjectDataSize) GetRunObjectDataSize;
    decltype(&::CreateRunObject) CreateRunObject;
    decltype(&::DestroyRunObject) DestroyRunObject;
    decltype(&::HandleRunObject) HandleRunObject;
    decltype(&::DisplayRunObject) DisplayRunObject;
    decltype(&::PauseRunObject) PauseRunObject;
    decltype(&::ContinueRunObject) ContinueRunObject;
    decltype(&::UpdateEditStructure) UpdateEditStructure;
    decltype(&::PrepareToWriteObject) PrepareToWriteObject;
    void* moduleHandle;         // the loaded DLL (HMODULE), or null in the native build
};

// Loads the module once per process; aborts with a message when an export is missing.
const ModuleApi& LoadModule();

// Releases a record returned by UpdateEditStructure as the host would.
void FreeHostRecord(void* record);
