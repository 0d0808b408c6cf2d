/*
 * The vendor's requests (remote-requests.cpp), with obs-websocket's
 * request callback signature, and the text repair its event shares.
 */
#pragma once

#include <obs-module.h>

#include <string>

/* Sets a text field, every byte that does not start a well-formed UTF-8
 * sequence replaced by U+FFFD: obs-websocket aborts on any other. */
void set_text(obs_data_t *data, const char *name, const std::string &text);
void get_state(obs_data_t *request, obs_data_t *response, void *);
void set_stage_request(obs_data_t *request, obs_data_t *response, void *);
void toggle_stage_request(obs_data_t *request, obs_data_t *response, void *);
