// The one thing the canned SQS server cannot do in its configuration alone: find the action of
// a request sent as a form (boto3 posts every request so), which is in the body. The answer is
// the same canned one a GET with that action gets.
function answer(r) {
  const body = r.requestText || '';
  const action = /(?:^|&)Action=([A-Za-z]+)(?:&|$)/.exec(body);
  r.internalRedirect('/query/' + (action ? action[1] : ''));
}

export default { answer };
