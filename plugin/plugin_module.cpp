// The NPAPI exports and the plug-in functions handed to the browser.
#include "plugin_module.h"

#include <new>

#include "gdiplus_flat.h"
#include "plugin_instance.h"
#include "plugin_texts.h"
#include "script_object.h"

NPNetscapeFuncs* BrowserFuncs = nullptr;

namespace {

ULONG_PTR GdiplusToken = 0;

NPError NPP_New(NPMIMEType, NPP instance, uint16_t, int16_t, char*[], char*[], NPSavedData*) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    BrowserFuncs->setvalue(instance, NPPVpluginWindowBool, reinterpret_cast<void*>(static_cast<intptr_t>(1)));
    auto* plugin = new (std::nothrow) CPluginInstance();
    if (plugin == nullptr) {
        return NPERR_OUT_OF_MEMORY_ERROR;
    }
    plugin->npp = instance;
    instance->pdata = plugin;
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    auto* plugin = static_cast<CPluginInstance*>(instance->pdata);
    if (plugin != nullptr) {
        if (plugin->scriptObject != nullptr) {
            BrowserFuncs->releaseobject(plugin->scriptObject);
            plugin->scriptObject = nullptr;
        }
        plugin->ReleaseWindow();
        delete plugin;
        instance->pdata = nullptr;
    }
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    auto* plugin = static_cast<CPluginInstance*>(instance->pdata);
    if (window == nullptr || plugin == nullptr) {
        return NPERR_GENERIC_ERROR;
    }
    if (plugin->initialised || window->window == nullptr) {
        return NPERR_NO_ERROR;
    }
    plugin->TakeOverWindow(window);
    return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP, NPMIMEType, NPStream*, NPBool, uint16_t*) {
    return NPERR_GENERIC_ERROR;
}

NPError NPP_DestroyStream(NPP, NPStream*, NPReason) {
    return NPERR_GENERIC_ERROR;
}

int16_t NPP_HandleEvent(NPP, void*) {
    return 0;
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
    switch (variable) {
    case NPPVpluginNameString:
        *static_cast<const char**>(value) = QUORVAN_PLUGIN_NAME;
        return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
        *static_cast<const char**>(value) = QUORVAN_PLUGIN_DESCRIPTION;
        return NPERR_NO_ERROR;
    case NPPVpluginNeedsXEmbed:
        *static_cast<bool*>(value) = true;
        return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject: {
        if (instance == nullptr) {
            return NPERR_INVALID_INSTANCE_ERROR;
        }
        auto* plugin = static_cast<CPluginInstance*>(instance->pdata);
        if (plugin == nullptr) {
            return NPERR_GENERIC_ERROR;
        }
        if (plugin->scriptObject == nullptr) {
            plugin->scriptObject = BrowserFuncs->createobject(plugin->npp, &ScriptObjectClass);
            if (plugin->scriptObject == nullptr) {
                return NPERR_OUT_OF_MEMORY_ERROR;
            }
        }
        BrowserFuncs->retainobject(plugin->scriptObject);
        *static_cast<NPObject**>(value) = plugin->scriptObject;
        return NPERR_NO_ERROR;
    }
    default:
        return NPERR_GENERIC_ERROR;
    }
}

}  // namespace

extern "C" {

NPError NP_OSCALL NP_GetEntryPoints(NPPluginFuncs* pFuncs) {
    if (pFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    pFuncs->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    pFuncs->newp = NPP_New;
    pFuncs->destroy = NPP_Destroy;
    pFuncs->setwindow = NPP_SetWindow;
    pFuncs->newstream = NPP_NewStream;
    pFuncs->destroystream = NPP_DestroyStream;
    pFuncs->event = NPP_HandleEvent;
    pFuncs->getvalue = NPP_GetValue;
    return NPERR_NO_ERROR;
}

NPError NP_OSCALL NP_Initialize(NPNetscapeFuncs* bFuncs) {
    if (bFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    if ((bFuncs->version >> 8) > NP_VERSION_MAJOR) {
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    }
    BrowserFuncs = bFuncs;
    // The NPAPI side draws nothing; GDI+ only has to run while the module is loaded, so a
    // failed start does not stop the plug-in.
    QuorvanGdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
    GdiplusStartup(&GdiplusToken, &input, nullptr);
    return NPERR_NO_ERROR;
}

NPError NP_OSCALL NP_Shutdown(void) {
    if (GdiplusToken != 0) {
        GdiplusShutdown(GdiplusToken);
        GdiplusToken = 0;
    }
    return NPERR_NO_ERROR;
}

const char* NP_OSCALL NP_GetMIMEDescription(void) {
    return QUORVAN_MIME_DESCRIPTION;
}

}  // extern "C"
