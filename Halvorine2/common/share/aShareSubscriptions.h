/* Which sharing clients hold which stream subscriptions. A module keeps one set of
 * subscribed values for all the programs that share it, so one program's
 * unsubscription would end the stream for another that subscribed to the same value;
 * the server keeps that unsubscription from the module while another client still
 * holds the value, and confirms it to its client itself. A client holds a value only
 * once the module confirmed its subscription; when the last holder of a value goes,
 * the server turns the value off at the module.
 *
 * A value is the 32-bit word of the stream control request: module << 24 | command
 * << 16 | option << 8 | index.
 *
 * Threads: one (the server's broker). */
#ifndef HALVORINE_ASHARESUBSCRIPTIONS_H
#define HALVORINE_ASHARESUBSCRIPTIONS_H

#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aShareSubscriptions aShareSubscriptions;

/* Empty holder, or NULL when memory runs out. */
aShareSubscriptions* aShareSubscriptions_Create(void);
/* Frees it; clears *subscriptions. */
void aShareSubscriptions_Destroy(aShareSubscriptions** subscriptions);

/* Takes note of a client's request: a disable removes the value from the client's.
 * True when the request is a disable of a value that another client still holds: it
 * must not reach the module, and *confirmation (wire form,
 * aSHARE_STREAM_CONFIRMATION_SIZE bytes) is the module's reply to send the client. An
 * enable is held only once confirmed (aShareSubscriptions_Answered). */
#define aSHARE_STREAM_CONFIRMATION_SIZE 5
bool aShareSubscriptions_Offer(aShareSubscriptions* subscriptions, const uint8* identity, size_t identitySize,
                               const aPacket* request, uint8* confirmation);

/* True for a streaming enable request; *word is its value. */
bool aShareSubscriptions_EnableWord(const aPacket* request, uint32* word);

/* True when the module's reply confirms a streaming enable. */
bool aShareSubscriptions_Confirms(const aPacket* reply);

/* The client asked for the value: until the module answers, it counts as holding
 * something (its samples may come before the confirmation reaches the server). */
void aShareSubscriptions_Expect(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize, uint32 word);

/* The module answered the client's enable: confirmed, the client holds the value;
 * otherwise (refused, or no answer) it holds nothing more than before. */
void aShareSubscriptions_Answered(aShareSubscriptions* subscriptions, const uint8* identity,
                                  size_t identitySize, uint32 word, bool confirmed);

/* True while some client holds the value. */
bool aShareSubscriptions_Held(const aShareSubscriptions* subscriptions, uint32 word);

/* The disable request that turns the value off at the module. */
aPacket* aShareSubscriptions_DisableRequest(uint32 word);

/* True while the client holds a subscription or waits for one: only then do the
 * module's samples go to it (else they would land among its replies). */
bool aShareSubscriptions_Holds(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize);

/* The value a streamed sample belongs to (wire form: address, size, data). */
uint32 aShareSubscriptions_SampleWord(const uint8* wire);

/* True when the client holds, or waits for, a value the sample's word falls under (an
 * element 0xFF of a held value stands for any). */
bool aShareSubscriptions_Wants(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize, uint32 sampleWord);

/* Called for each value that a forgotten client was the last to hold. */
typedef void (*aShareReleasedValue)(uint32 word, void* ref);

/* Drops what a client held (a client that has gone); released, when not NULL, hears of
 * every value nobody holds any more. */
void aShareSubscriptions_Forget(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize, aShareReleasedValue released, void* ref);

#ifdef __cplusplus
}
#endif

#endif
