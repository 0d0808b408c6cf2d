#include "vendor-host.hpp"

#include <map>
#include <mutex>

namespace vendor_host {
namespace {

struct RequestCallback {
	void (*callback)(obs_data_t *, obs_data_t *, void *);
	void *priv_data;
};

std::mutex lock;
proc_handler_t *handler = nullptr;
std::string name;
char vendor_token; /* its address is the vendor handed out */
std::map<std::string, RequestCallback> requests;
std::vector<Event> events;
std::function<void(const Event &)> emit_hook;

void get_ph(void *, calldata_t *cd)
{
	std::lock_guard<std::mutex> guard(lock);
	calldata_set_ptr(cd, "ph", handler);
}

void register_vendor(void *, calldata_t *cd)
{
	std::lock_guard<std::mutex> guard(lock);
	const char *wanted = calldata_string(cd, "name");
	if (!wanted || !*wanted || !name.empty())
		return; /* obs-websocket refuses a second vendor of a name */
	name = wanted;
	calldata_set_ptr(cd, "vendor", &vendor_token);
}

void register_request(void *, calldata_t *cd)
{
	std::lock_guard<std::mutex> guard(lock);
	const char *type = calldata_string(cd, "type");
	auto *callback =
		static_cast<RequestCallback *>(calldata_ptr(cd, "callback"));
	const bool ok = calldata_ptr(cd, "vendor") == &vendor_token && type &&
			*type && callback && !requests.count(type);
	if (ok)
		requests[type] = *callback;
	calldata_set_bool(cd, "success", ok);
}

void emit_event(void *, calldata_t *cd)
{
	const char *type = calldata_string(cd, "type");
	auto *data = static_cast<obs_data_t *>(calldata_ptr(cd, "data"));
	const bool ok = calldata_ptr(cd, "vendor") == &vendor_token && type &&
			data;
	if (ok) {
		Event e{type,
			obs_data_get_string(data, "sourceName"),
			obs_data_get_string(data, "filterName"),
			obs_data_get_int(data, "stage"),
			obs_data_get_string(data, "stageName"),
			obs_data_get_int(data, "sequence")};
		std::function<void(const Event &)> hook;
		{
			std::lock_guard<std::mutex> guard(lock);
			hook = emit_hook;
		}
		if (hook)
			hook(e);
		std::lock_guard<std::mutex> guard(lock);
		events.push_back(e);
	}
	calldata_set_bool(cd, "success", ok);
}

} // namespace

void install()
{
	std::lock_guard<std::mutex> guard(lock);
	if (handler)
		return;
	handler = proc_handler_create();
	proc_handler_add(handler,
			 "bool vendor_register(in string name, out ptr vendor)",
			 register_vendor, nullptr);
	proc_handler_add(handler,
			 "bool vendor_request_register(in ptr vendor, in "
			 "string type, in ptr callback)",
			 register_request, nullptr);
	proc_handler_add(handler,
			 "bool vendor_event_emit(in ptr vendor, in string "
			 "type, in ptr data)",
			 emit_event, nullptr);
	static bool offered = false;
	if (!offered)
		proc_handler_add(obs_get_proc_handler(),
				 "bool obs_websocket_api_get_ph(out ptr ph)",
				 get_ph, nullptr);
	offered = true;
}

void uninstall()
{
	std::lock_guard<std::mutex> guard(lock);
	proc_handler_destroy(handler);
	handler = nullptr;
	requests.clear();
	events.clear();
	emit_hook = nullptr;
	name.clear();
}

std::string vendor_name()
{
	std::lock_guard<std::mutex> guard(lock);
	return name;
}

std::vector<std::string> request_types()
{
	std::lock_guard<std::mutex> guard(lock);
	std::vector<std::string> types;
	for (const auto &r : requests)
		types.push_back(r.first);
	return types;
}

obs_data_t *call(const char *type, const char *request, const char *null_field)
{
	RequestCallback callback;
	{
		std::lock_guard<std::mutex> guard(lock);
		const auto found = requests.find(type);
		if (found == requests.end())
			return nullptr;
		callback = found->second;
	}
	/* obs-websocket calls with its lock let go, data always present */
	obs_data_t *data = obs_data_create_from_json(request);
	if (!data)
		data = obs_data_create();
	if (null_field)
		obs_data_set_obj(data, null_field, nullptr);
	obs_data_t *response = obs_data_create();
	callback.callback(data, response, callback.priv_data);
	obs_data_release(data);
	return response;
}

void set_emit_hook(std::function<void(const Event &)> hook)
{
	std::lock_guard<std::mutex> guard(lock);
	emit_hook = std::move(hook);
}

std::vector<Event> take_events()
{
	std::lock_guard<std::mutex> guard(lock);
	std::vector<Event> taken;
	taken.swap(events);
	return taken;
}

std::string take_events_text()
{
	std::string text;
	for (const Event &e : take_events())
		text += e.type + " " + e.source + "/" + e.filter + " " +
			std::to_string(e.stage) + " " + e.stage_name + "; ";
	return text;
}

} // namespace vendor_host
