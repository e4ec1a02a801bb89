/* Which sharing clients hold which stream subscriptions. A module keeps one set of
 * subscribed values for all the programs that share it, so one program's
 * unsubscription would end the stream for another that subscribed to the same value;
 * the server keeps that unsubscription from the module while another client still
 * holds the value, and confirms it to its client itself.
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

/* Takes note of a client's request: a streaming enable adds the value to the client's,
 * a disable removes it. True when the request is a disable of a value that another
 * client still holds: it must not reach the module, and *confirmation (wire form,
 * aSHARE_STREAM_CONFIRMATION_SIZE bytes) is the module's reply to send the client. */
#define aSHARE_STREAM_CONFIRMATION_SIZE 5
bool aShareSubscriptions_Offer(aShareSubscriptions* subscriptions, const uint8* identity, size_t identitySize,
                               const aPacket* request, uint8* confirmation);

/* True while the client holds a subscription: only then do the module's samples go to
 * it (else they would land among its replies). */
bool aShareSubscriptions_Holds(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize);

/* Drops what a client held (a client that has gone). */
void aShareSubscriptions_Forget(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize);

#ifdef __cplusplus
}
#endif

#endif
