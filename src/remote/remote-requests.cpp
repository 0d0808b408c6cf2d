/*
 * The requests of the vendor "tavimore": GetState, SetStage, ToggleStage.
 * Each is a straight line: find the filter and read the request, act
 * through the filter's API, answer.
 *
 * Threads: requests arrive on obs-websocket's worker threads, several at
 * once. Each finds its filter through libobs by name and holds a reference
 * to the filter for the whole request, so that libobs cannot destroy the
 * filter under it; the filter is changed only through zoom-control.cpp,
 * which takes the filter's lock exactly as a hotkey does.
 *
 * Text: obs-websocket turns what it is handed into JSON on its thread pool,
 * and its JSON library throws at a byte that is not UTF-8, which nothing
 * there catches: OBS aborts. Names come from libobs and from settings, where
 * a script may have put any bytes, so every text is made valid UTF-8 first.
 */
#include "remote/remote-requests.hpp"
#include "filter/zoom-api.hpp"
#include "core/plugin-support.hpp"

#include <obs.hpp>

#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

namespace {

/* The text with every byte that does not start a well-formed UTF-8
 * sequence (overlong forms, surrogates and values past U+10FFFF are not)
 * replaced by U+FFFD. */
std::string valid_utf8(const std::string &text)
{
	std::string out;
	out.reserve(text.size());
	const auto *s = reinterpret_cast<const unsigned char *>(text.data());
	const size_t n = text.size();
	for (size_t i = 0; i < n;) {
		const unsigned char c = s[i];
		size_t length = 0;
		/* the bounds of the second byte, by the first */
		unsigned char low = 0x80, high = 0xbf;
		if (c < 0x80)
			length = 1;
		else if (c >= 0xc2 && c <= 0xdf)
			length = 2;
		else if (c >= 0xe0 && c <= 0xef) {
			length = 3;
			low = c == 0xe0 ? 0xa0 : 0x80;
			high = c == 0xed ? 0x9f : 0xbf;
		} else if (c >= 0xf0 && c <= 0xf4) {
			length = 4;
			low = c == 0xf0 ? 0x90 : 0x80;
			high = c == 0xf4 ? 0x8f : 0xbf;
		}
		bool ok = length > 0 && i + length <= n;
		for (size_t k = 1; ok && k < length; k++) {
			const unsigned char lo = k == 1 ? low : 0x80;
			const unsigned char hi = k == 1 ? high : 0xbf;
			ok = s[i + k] >= lo && s[i + k] <= hi;
		}
		if (ok) {
			out.append(text, i, length);
			i += length;
		} else {
			out += "\xEF\xBF\xBD";
			i++;
		}
	}
	return out;
}

void fail(obs_data_t *response, const std::string &message)
{
	obs_data_set_bool(response, "success", false);
	set_text(response, "error", message);
}

/* The type of a request field, or OBS_DATA_NULL when it is missing. A JSON
 * null is missing too: obs-websocket 5.0 and 5.5 leave it out, 5.7 hands
 * it over as an object item without an object. */
obs_data_type field_type(obs_data_t *request, const char *name)
{
	obs_data_item_t *item = obs_data_item_byname(request, name);
	if (!item)
		return OBS_DATA_NULL;
	obs_data_type type = obs_data_item_gettype(item);
	if (type == OBS_DATA_OBJECT) {
		obs_data_t *object = obs_data_item_get_obj(item);
		if (!object)
			type = OBS_DATA_NULL;
		obs_data_release(object);
	}
	obs_data_item_release(&item);
	return type;
}

/* A zoom filter found by a request and its source, both held for as long
 * as the request runs. */
struct FoundFilter {
	OBSSourceAutoRelease source;
	OBSSourceAutoRelease filter;
	ZoomFilter *zoom = nullptr;
	std::string filter_name;
};

/* The zoom filters of a source, each with a reference of ours (taken while
 * libobs holds the source's filter list, and only of filters still alive). */
void collect_zoom_filter(obs_source_t *, obs_source_t *child, void *param)
{
	auto *found = static_cast<std::vector<obs_source_t *> *>(param);
	const char *id = obs_source_get_unversioned_id(child);
	if (!id || std::strcmp(id, ZOOM_FILTER_ID) != 0)
		return;
	if (obs_source_t *ref = obs_source_get_ref(child))
		found->push_back(ref);
}

/* A source looked up by name, with a reference of ours, or null.
 *
 * obs_get_source_by_name is not used: when the source's last reference is
 * released while the lookup runs, it hands back a source it could not take
 * a reference to, which the caller then releases once too often. Here a
 * reference is taken while libobs holds its list of sources, and only of a
 * source still alive. Filters are left out: a request names the source that
 * carries the filter. */
struct NameLookup {
	const char *name;
	obs_source_t *found;
};

bool match_source_name(void *param, obs_source_t *source)
{
	auto *lookup = static_cast<NameLookup *>(param);
	const char *name = obs_source_get_name(source);
	if (obs_obj_is_private(source) || !name ||
	    std::strcmp(name, lookup->name) != 0 ||
	    obs_source_get_type(source) == OBS_SOURCE_TYPE_FILTER)
		return true;
	lookup->found = obs_source_get_ref(source);
	return lookup->found == nullptr;
}

obs_source_t *source_by_name(const char *name)
{
	NameLookup lookup = {name, nullptr};
	obs_enum_all_sources(match_source_name, &lookup);
	return lookup.found;
}

bool find_filter(obs_data_t *request, FoundFilter &found, std::string &error)
{
	switch (field_type(request, "sourceName")) {
	case OBS_DATA_STRING:
		break;
	case OBS_DATA_NULL:
		error = "sourceName is missing: give the name of the source "
			"that carries the zoom filter";
		return false;
	default:
		error = "sourceName must be a string";
		return false;
	}
	const std::string source_name =
		obs_data_get_string(request, "sourceName");
	found.source = source_by_name(source_name.c_str());
	obs_source_t *source = found.source;
	if (!source) {
		error = "there is no source named \"" + source_name + "\"";
		return false;
	}

	switch (field_type(request, "filterName")) {
	case OBS_DATA_NULL: {
		std::vector<obs_source_t *> filters;
		obs_source_enum_filters(source, collect_zoom_filter, &filters);
		/* released outside libobs's lock of the filter list */
		for (size_t i = 1; i < filters.size(); i++)
			obs_source_release(filters[i]);
		if (filters.empty()) {
			error = "source \"" + source_name +
				"\" has no Tavimore Zoom filter";
			return false;
		}
		found.filter = filters[0];
		if (filters.size() > 1) {
			error = "source \"" + source_name + "\" has " +
				std::to_string(filters.size()) +
				" Tavimore Zoom filters: name one in filterName";
			return false;
		}
		break;
	}
	case OBS_DATA_STRING: {
		const std::string name =
			obs_data_get_string(request, "filterName");
		found.filter =
			obs_source_get_filter_by_name(source, name.c_str());
		if (!found.filter) {
			error = "source \"" + source_name +
				"\" has no filter named \"" + name + "\"";
			return false;
		}
		const char *id = obs_source_get_unversioned_id(found.filter);
		if (!id || std::strcmp(id, ZOOM_FILTER_ID) != 0) {
			error = "filter \"" + name + "\" of source \"" +
				source_name +
				"\" is not a Tavimore Zoom filter";
			return false;
		}
		break;
	}
	default:
		error = "filterName must be a string";
		return false;
	}

	found.zoom = static_cast<ZoomFilter *>(obs_obj_get_data(found.filter));
	const char *name = obs_source_get_name(found.filter);
	found.filter_name = name ? name : "";
	if (!found.zoom) {
		error = "filter \"" + found.filter_name + "\" of source \"" +
			source_name + "\" failed to start";
		return false;
	}
	return true;
}

/* The stage field: a whole number (a JSON integer, or a float without a
 * fraction). The range is checked against the stage list later, under the
 * filter's lock. */
bool read_stage(obs_data_t *request, long long &stage, std::string &error)
{
	if (field_type(request, "stage") == OBS_DATA_NULL) {
		error = "stage is missing: give 0 for the idle view or a "
			"stage number";
		return false;
	}
	obs_data_item_t *item = obs_data_item_byname(request, "stage");
	bool ok = false;
	if (obs_data_item_gettype(item) == OBS_DATA_NUMBER) {
		if (obs_data_item_numtype(item) == OBS_DATA_NUM_INT) {
			stage = obs_data_item_get_int(item);
			ok = true;
		} else {
			const double v = obs_data_item_get_double(item);
			/* whole numbers only, and small enough to convert */
			if (std::isfinite(v) && v == std::floor(v) &&
			    std::fabs(v) < 1e9) {
				stage = static_cast<long long>(v);
				ok = true;
			}
		}
	}
	obs_data_item_release(&item);
	if (!ok)
		error = "stage must be a whole number: 0 for the idle view or "
			"a stage number";
	return ok;
}

/* Runs a request's body, turning anything thrown into a failed response:
 * no exception may reach obs-websocket. */
template<typename Body>
void guarded(obs_data_t *response, const char *type, Body body) noexcept
{
	try {
		body();
	} catch (const std::exception &e) {
		log_message(LOG_WARNING, "%s failed: %s", type, e.what());
		fail(response, std::string("internal error: ") + e.what());
	} catch (...) {
		log_message(LOG_WARNING, "%s failed", type);
		fail(response, "internal error");
	}
}

} // namespace

void set_text(obs_data_t *data, const char *name, const std::string &text)
{
	obs_data_set_string(data, name, valid_utf8(text).c_str());
}

void get_state(obs_data_t *request, obs_data_t *response, void *)
{
	if (!response)
		return;
	guarded(response, "GetState", [&] {
		FoundFilter found;
		std::string error;
		if (!request || !find_filter(request, found, error)) {
			fail(response, request ? error : "no request data");
			return;
		}
		const ZoomState s = zoom_state(found.zoom);
		obs_data_set_bool(response, "success", true);
		set_text(response, "filterName", found.filter_name);
		obs_data_set_int(response, "sequence", s.sequence);
		obs_data_set_int(response, "stage", s.stage);
		set_text(response, "stageName", s.stage_name);
		obs_data_set_int(response, "stageCount", s.stage_count);
		obs_data_set_double(response, "shownZoom", s.shown_zoom);
		obs_data_set_double(response, "targetZoom", s.target_zoom);
		obs_data_set_double(response, "progress", s.progress);
		obs_data_set_double(response, "centerX", s.center_x);
		obs_data_set_double(response, "centerY", s.center_y);
		obs_data_set_bool(response, "tracking", s.tracking);
		obs_data_set_bool(response, "auto", s.automatic);
	});
}

static void change_stage(obs_data_t *request, obs_data_t *response,
			 StageRequest kind, const char *type)
{
	if (!response)
		return;
	guarded(response, type, [&] {
		FoundFilter found;
		std::string error;
		long long stage = 0;
		int32_t chosen = 0;
		if (!request || !find_filter(request, found, error) ||
		    !read_stage(request, stage, error) ||
		    !request_stage(found.zoom, found.source, kind, stage,
				   chosen, error)) {
			fail(response, request ? error : "no request data");
			return;
		}
		obs_data_set_bool(response, "success", true);
		set_text(response, "filterName", found.filter_name);
		obs_data_set_int(response, "stage", chosen);
	});
}

void set_stage_request(obs_data_t *request, obs_data_t *response, void *)
{
	change_stage(request, response, StageRequest::Set, "SetStage");
}

void toggle_stage_request(obs_data_t *request, obs_data_t *response, void *)
{
	change_stage(request, response, StageRequest::Toggle, "ToggleStage");
}
