/*
 * The vendor "tavimore" of obs-websocket: its registration, the requests'
 * plumbing and the StageChanged event; the requests themselves are in
 * remote-requests.cpp.
 *
 * obs-websocket's plug-in API is a set of procedures on its own proc handler,
 * which libobs's global proc handler hands out ("obs_websocket_api_get_ph").
 * They are called here directly. The vendor and the proc handler are
 * published once, from obs_module_post_load, and forgotten at unload; both
 * are atomics. StageChanged is sent from whichever thread started the
 * transition, never with the filter's lock held, in the order of the
 * changes (zoom-control.cpp).
 */
#include "remote/zoom-remote.hpp"
#include "remote/remote-requests.hpp"
#include "core/plugin-support.hpp"

#include <obs.hpp>

#include <atomic>

namespace {

const char VENDOR_NAME[] = "tavimore";

std::atomic<proc_handler_t *> websocket_ph{nullptr};
std::atomic<void *> vendor{nullptr};

/* The shape of obs-websocket's request callback record. */
struct VendorRequestCallback {
	void (*callback)(obs_data_t *, obs_data_t *, void *);
	void *priv_data;
};

bool register_request(proc_handler_t *ph, void *v, const char *type,
		      void (*callback)(obs_data_t *, obs_data_t *, void *))
{
	/* obs-websocket copies the record during the call */
	VendorRequestCallback record = {callback, nullptr};
	calldata_t cd = {};
	calldata_set_ptr(&cd, "vendor", v);
	calldata_set_string(&cd, "type", type);
	calldata_set_ptr(&cd, "callback", &record);
	proc_handler_call(ph, "vendor_request_register", &cd);
	const bool ok = calldata_bool(&cd, "success");
	calldata_free(&cd);
	return ok;
}

} // namespace

void remote_register()
{
	calldata_t cd = {};
	proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph",
			  &cd);
	auto *ph = static_cast<proc_handler_t *>(calldata_ptr(&cd, "ph"));
	calldata_free(&cd);
	if (!ph)
		return; /* no obs-websocket: the module works without it */

	calldata_t reg = {};
	calldata_set_string(&reg, "name", VENDOR_NAME);
	proc_handler_call(ph, "vendor_register", &reg);
	void *v = calldata_ptr(&reg, "vendor");
	calldata_free(&reg);
	if (!v) {
		log_message(LOG_WARNING,
			    "obs-websocket refused the vendor \"%s\"",
			    VENDOR_NAME);
		return;
	}

	const bool ok =
		register_request(ph, v, "GetState", get_state) &&
		register_request(ph, v, "SetStage", set_stage_request) &&
		register_request(ph, v, "ToggleStage", toggle_stage_request);
	if (!ok)
		log_message(LOG_WARNING,
			    "obs-websocket refused a request of \"%s\"",
			    VENDOR_NAME);
	websocket_ph.store(ph);
	vendor.store(v);
	log_message(LOG_INFO, "remote control through obs-websocket: %s",
		    VENDOR_NAME);
}

void remote_unregister()
{
	/* obs-websocket may be gone before us: nothing is called into it */
	vendor.store(nullptr);
	websocket_ph.store(nullptr);
}

void remote_stage_changed(obs_source_t *parent, obs_source_t *filter,
			  int32_t stage, const std::string &stage_name,
			  int64_t sequence, bool automatic)
{
	proc_handler_t *ph = websocket_ph.load();
	void *v = vendor.load();
	if (!ph || !v || !filter)
		return;

	const char *source_name = parent ? obs_source_get_name(parent) : "";
	const char *filter_name = obs_source_get_name(filter);

	OBSDataAutoRelease data = obs_data_create();
	set_text(data, "sourceName", source_name ? source_name : "");
	set_text(data, "filterName", filter_name ? filter_name : "");
	obs_data_set_int(data, "stage", stage);
	set_text(data, "stageName", stage_name);
	obs_data_set_int(data, "sequence", sequence);
	obs_data_set_bool(data, "auto", automatic);

	calldata_t cd = {};
	calldata_set_ptr(&cd, "vendor", v);
	calldata_set_string(&cd, "type", "StageChanged");
	calldata_set_ptr(&cd, "data", data.Get());
	proc_handler_call(ph, "vendor_event_emit", &cd);
	calldata_free(&cd);
}
